// SignalPipe: the self-pipe through which caught signals reach the main
// thread.  The caught handler writes each signal number as one native 4-byte
// int into the write end; the read end is a high-priority descriptor client,
// so the main thread reads and handles the numbers on its next wait, before
// any socket.
//
// Both ends are non-blocking and close on exec: a burst of signals that
// fills the pipe drops numbers instead of hanging a handler, and a started
// child inherits neither end.
#ifndef SIGNALPIPE_H
#define SIGNALPIPE_H

#include "DescriptorEventClient.h"

class SignalPipe : public DescriptorEventClient {
public:
    // Makes the pipe (a failure is logged, BUG, and leaves both ends -1) and
    // enters the descriptor sets.
    SignalPipe();
    // Closes both ends.
    ~SignalPipe() override;

    // One read of up to 4096 bytes; a whole number of 4-byte signal numbers
    // is handed, in order, to the process's signal catcher; anything else is
    // dropped.
    void handleEvent() override;
    int descriptor() override { return _readEnd; }
    int eventMask() override { return READABLE; }
    int isHighPriority() override { return 1; }

    // For the caught handler: writes one number; async-signal-safe, keeps
    // errno.
    void post(int signal) const;
    int writeEnd() const { return _writeEnd; }

private:
    int _readEnd;
    int _writeEnd;
};

#endif
