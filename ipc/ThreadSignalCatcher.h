// ThreadSignalCatcher: the process's signal catcher.  A fault in a thread
// other than the main thread never runs the process's shutdown: SIGPIPE
// there is ignored (the write sees EPIPE), any other fatal signal writes
// "Signal N (name) received inside a thread for dirty shutdown" to standard
// error and raises SIGKILL.
//
// Its signal thread, which the decoder process never starts, takes the
// waited (caught) signals with sigwait instead of the handler and delivers
// each as the handler does.  Whoever starts it blocks the waited signals in
// every other thread first (a thread inherits the mask of the one that makes
// it), or the handler keeps taking them there.
#ifndef THREADSIGNALCATCHER_H
#define THREADSIGNALCATCHER_H

#include <pthread.h>

#include "SignalCatcher.h"

class ThreadSignalCatcher : public SignalCatcher {
public:
    ThreadSignalCatcher();

    ThreadSignalCatcher* threadSignalCatcher() override { return this; }
    // SIGCHLD is no longer waited.  A running signal thread is cancelled
    // and a new one waits for the other signals (they stay blocked in every
    // thread, so nothing else would take them); without one, the default
    // SIGCHLD action comes back.
    void releaseChildSignal() override;
    void handleSignal(int signal) override;

    // Starts the signal thread (joinable: releaseChildSignal joins it once
    // cancelled) unless it runs; true when it runs.
    // Main thread only.
    bool startSignalThread();
    bool isThreadRunning() const { return _threadRunning; }
    pthread_t mainThread() const { return _mainThread; }

private:
    // The thread body; start is a new sigset_t of the signals to wait for
    // (taken over).  It delivers to the process's catcher.
    static void* signalThread(void* start);

    bool _threadRunning;
    pthread_t _signalThread;
    pthread_t _mainThread;
};

#endif
