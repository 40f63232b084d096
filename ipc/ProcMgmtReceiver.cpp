#include "ProcMgmtReceiver.h"

#include "ChildProcessSet.h"
#include "ChildTargetMsg.h"
#include "IpcModule.h"
#include "LogStream.h"
#include "PeerLineCap.h"
#include "registerReceiverOnce.h"

void ProcMgmtReceiver::initialise()
{
    registerReceiverOnce<ProcMgmtReceiver>(PROC_MGMT_MODULE);
}

void ProcMgmtReceiver::receive(const short* type, const IPC_Target& sender,
                               unsigned long bodyLength, char* body)
{
    if (*type == ChildTargetMsg::TYPE) {
        receiveChildTargetMsg(sender, body, body + bodyLength);
    } else {
        if (PeerLineCap::admit(LogStream::PROBLEM, "ProcMgmtReceiver",
                               "receive: unrecognized message type", sender))
            QEV_LOG(LogStream::PROBLEM, "ProcMgmtReceiver")
                << "receive: unrecognized message type " << std::endl;
    }
}

void ProcMgmtReceiver::receiveChildTargetMsg(const IPC_Target& sender, char* body,
                                             const char* end)
{
    ChildTargetMsg::Args args;
    if (!args.quantize(body, end))
        return;  // logged by the decoder
    const unsigned long id = args.arg1();
    const int pid = args.arg2();
    QEV_LOG(LogStream::VERBOSE, "ProcMgmtReceiver") << "receiveChildTargetMsg: parentId = " << id
                                                    << ", unix PID = " << pid << std::endl;
    ChildProcessSet* set = ChildProcessSet::instance();
    set->setIPC_Target(id, sender, pid);
    set->started(id, pid);
}
