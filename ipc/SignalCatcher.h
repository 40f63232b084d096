// SignalCatcher: turns POSIX signals into events of the main thread.
//
// Made once per process (instance(), first called by ipcInitialise before
// main's work starts).  It installs two handlers:
// - the fatal handler, for faults and broken pipes (SIGILL, SIGTRAP, SIGFPE,
//   SIGBUS, SIGSEGV, SIGPIPE; QEV_DUMP_CORE "0" adds SIGABRT, "1" leaves
//   only SIGPIPE): handleSignal runs at once, inside the handler;
// - the caught handler, for SIGHUP, SIGINT, SIGTERM, SIGALRM, SIGUSR1,
//   SIGUSR2, SIGCHLD, SIGPROF, SIGURG and SIGQUIT (QEV_DUMP_CORE "1" leaves
//   out SIGQUIT): it only writes the number into the signal pipe, which the
//   main thread reads on its next wait.  No SA_RESTART: the signal also ends
//   the wait in progress (Connection::waitForEvent gives -1).
//
// SIGXFSZ is ignored: a write past the file size limit fails with EFBIG
// and takes the way of any failed write (a full disk's), and the process
// goes on.
//
// handleSignal passes each signal to the client: a default SignalClient
// until setClient gives the process's own.  The catcher lives until exit,
// when its destructor closes the pipe.
#ifndef SIGNALCATCHER_H
#define SIGNALCATCHER_H

#include <csignal>

#include "SignalPipe.h"

class SignalClient;
class ThreadSignalCatcher;

class SignalCatcher {
public:
    // The process's catcher (a ThreadSignalCatcher), made on the first call.
    static SignalCatcher* instance();
    // The catcher once made, else null; for the handlers.
    static SignalCatcher* existing();

    virtual ~SignalCatcher();

    // The client is not owned; null restores the default client.
    void setClient(SignalClient* client);
    SignalClient* client() const { return _client; }
    // Caught signals are handled inside the handler instead of through the
    // pipe.
    void setDirect(bool direct) { _direct = direct; }
    bool isDirect() const { return _direct; }
    SignalPipe& signalPipe() { return _pipe; }
    // Whether the signal goes through the pipe (it is one of the caught ones).
    bool isWaited(int signal) const;
    // What the caught handler does with a signal: handleSignal at once when
    // direct, else the number into the pipe.  Async-signal-safe unless
    // direct.
    void deliver(int signal);

    virtual ThreadSignalCatcher* threadSignalCatcher();
    // Restores the default SIGCHLD action.
    virtual void releaseChildSignal();
    // The reaction to one signal: the client operation for it.
    virtual void handleSignal(int signal);

    // The signal lists by QEV_DUMP_CORE, ending with 0; -2 and -1 are the
    // pseudo-signals "EMT instruction" and "Remote lock lost", never
    // installed.
    static const int* fatalSignals();
    static const int* caughtSignals();
    // The real signals of caughtSignals as a set.
    static sigset_t caughtSignalSet();
    // Whether a signal asking for a clean shutdown (SIGINT, SIGTERM,
    // SIGQUIT) has been caught, even before the main thread's wait reads it
    // from the pipe: long work checks it between steps, so that the stop
    // is acted on within moments.  Async-signal-safe.
    static bool stopRequested();

protected:
    SignalCatcher();

    const sigset_t& waitedSignals() const { return _waited; }
    // Takes the signal out of the waited ones.
    void stopWaiting(int signal);

private:
    // Installs the fatal and the caught handler (failures reported, the
    // remaining signals still installed).
    void installHandlers();

    sigset_t _waited;
    SignalPipe _pipe;
    SignalClient* _client;
    bool _direct;
};

#endif
