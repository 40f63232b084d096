// Module 5, type 0: a child's answer to its parent, the unique id its parent
// gave it and its process id.  The header's sender is the child's own target.
#ifndef CHILDTARGETMSG_H
#define CHILDTARGETMSG_H

#include "ArgPkg2.h"
#include "ProcMgmtMsg.h"

class ChildTargetMsg : public ProcMgmtMsg {
public:
    enum { TYPE = 0 };
    typedef ArgPkg2<unsigned long, int> Args;  // unique id, process id

    ChildTargetMsg(unsigned long uniqueId, int pid) : ProcMgmtMsg(new Args(uniqueId, pid), TYPE) {}
};

#endif
