// The messages of module 5, process management: a child reports its own
// target to its parent (ChildTargetMsg, type 0).
#ifndef PROCMGMTMSG_H
#define PROCMGMTMSG_H

#include "IpcModule.h"
#include "ParameterizedMsg.h"

class ProcMgmtMsg : public ParameterizedMsg {
public:
    ProcMgmtMsg(ArgPkgABC* args, short type) : ParameterizedMsg(args, type, PROC_MGMT_MODULE) {}
};

#endif
