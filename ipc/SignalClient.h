// The receiver of the signals the signal catcher hands on: it decides
// whether the process shuts down (clean or dirty), ignores the signal, reaps
// children, prints statistics or adjusts logging.  The base class carries
// the default reactions; a process sets its own subclass, which overrides
// terminate, does its own work first and then calls SignalClient::terminate
// so that the shutdown message and exit status stay the same.
#ifndef SIGNALCLIENT_H
#define SIGNALCLIENT_H

class SignalClient {
public:
    SignalClient() {}
    virtual ~SignalClient();

    // Ends the process: exit status 0 for a clean shutdown, 1 for a dirty
    // one.  A second call (a second request, or a fault during shutdown)
    // raises SIGKILL.
    virtual void terminate(bool clean, int signal);
    // SIGHUP: logged and ignored.
    virtual void reset();
    // 0 SIGALRM, 1 SIGPROF: a dirty shutdown.
    virtual void alarmSignal(int which);
    // 0 SIGPIPE: logged and ignored; 1 the lost-remote-lock pseudo-signal: a
    // dirty shutdown.
    virtual void ioSignal(int which);
    // SIGCHLD: reaps the children that have exited.
    virtual void childSignal();
    // SIGURG: the connection statistics.
    virtual void statsSignal();

    // SIGUSR1: the log files are closed and reopened before the next message.
    static void breakLogFiles(SignalClient* client);
    // SIGUSR2: log filtering on or off.
    static void toggleLogFiltering(SignalClient* client);
    static void printStackTrace();

    // True once terminate has started.
    static bool terminating();
};

#endif
