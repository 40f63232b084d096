// ProcMgmtReceiver: the receiver of module 5, process management.  A
// child's ChildTargetMsg (type 0) gives the child process set the child's
// target (the message's sender) and its start.
#ifndef PROCMGMTRECEIVER_H
#define PROCMGMTRECEIVER_H

#include "Receiver.h"

class ProcMgmtReceiver : public Receiver {
public:
    void receive(const short* type, const IPC_Target& sender, unsigned long bodyLength,
                 char* body) override;

    // Makes the process's receiver and registers it for module 5; part of
    // the message layer's start-up.  A second call changes nothing.
    static void initialise();

private:
    void receiveChildTargetMsg(const IPC_Target& sender, char* body, const char* end);
};

#endif
