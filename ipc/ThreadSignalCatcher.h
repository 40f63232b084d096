// ThreadSignalCatcher: the process's signal catcher.  A fault in a thread
// other than the main thread never runs the process's shutdown: SIGPIPE
// there is ignored (the write sees EPIPE), any other fatal signal writes
// "Signal N (name) received inside a thread for dirty shutdown" to standard
// error and raises SIGKILL.
#ifndef THREADSIGNALCATCHER_H
#define THREADSIGNALCATCHER_H

#include <pthread.h>

#include "SignalCatcher.h"

class ThreadSignalCatcher : public SignalCatcher {
public:
    ThreadSignalCatcher();

    ThreadSignalCatcher* threadSignalCatcher() override { return this; }
    void handleSignal(int signal) override;

    pthread_t mainThread() const { return _mainThread; }

private:
    pthread_t _mainThread;
};

#endif
