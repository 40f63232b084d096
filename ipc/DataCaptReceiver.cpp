#include "DataCaptReceiver.h"

#include "DataMsg.h"
#include "DataRoutingManager.h"
#include "DataReqMsg.h"
#include "IPC_Target.h"
#include "IpcModule.h"
#include "LogStream.h"
#include "LogText.h"
#include "PeerLineCap.h"
#include "ReadyMsg.h"
#include "dataCaptClient.h"
#include "registerReceiverOnce.h"

#include <string>

namespace {

const char* const sourceFile = "DataCaptReceiver";

DataCaptReceiver::DataCallback callback = nullptr;

// A peer may send these again and again: the lines about one peer are
// capped.
void logIgnored(const char* what, const IPC_Target& sender)
{
    const std::string kind = std::string("no data routing manager; ") + what + " ignored";
    if (!PeerLineCap::admit(LogStream::PROBLEM, sourceFile, kind.c_str(), sender))
        return;
    QEV_LOG(LogStream::PROBLEM, sourceFile)
        << "DataCaptReceiver: no data routing manager in this process; " << what << " from "
        << sender << " ignored" << std::endl;
}

}  // namespace

void DataCaptReceiver::setDataCallback(DataCallback newCallback)
{
    callback = newCallback;
}

DataCaptReceiver::DataCallback DataCaptReceiver::dataCallback()
{
    return callback;
}

void DataCaptReceiver::initialise()
{
    registerReceiverOnce<DataCaptReceiver>(DATA_CAPT_MODULE);
}

void DataCaptReceiver::receive(const short* type, const IPC_Target& sender,
                               unsigned long bodyLength, char* body)
{
    const char* end = body + bodyLength;
    switch (*type) {
    case ReadyMsg::TYPE:
        receiveReadyMsg(sender);
        break;
    case DataReqMsg::TYPE:
        receiveDataReqMsg(sender, body, end);
        break;
    case DataMsg::TYPE:
        receiveDataMsg(sender, body, end);
        break;
    default:
        QEV_LOG(LogStream::BUG, sourceFile) << "DataCaptReceiver: unrecognized message type "
                                            << std::endl;
        break;
    }
}

void DataCaptReceiver::receiveReadyMsg(const IPC_Target& sender)
{
    QEV_LOG(LogStream::VERBOSE, sourceFile) << "Received ReadyMsg" << std::endl;
    if (_manager)
        _manager->targetReady(sender);
    else
        logIgnored("ReadyMsg", sender);
}

void DataCaptReceiver::receiveDataReqMsg(const IPC_Target& sender, char* body, const char* end)
{
    TextString pattern;
    if (!xdrQuantize(pattern, body, end))
        return;  // logged by the decoder
    if (PeerLineCap::admit(LogStream::EVENT, sourceFile, "DataReqMsg: pattern = ...", sender))
        QEV_LOG(LogStream::EVENT, sourceFile)
            << "DataReqMsg: pattern = " << LogText(pattern) << std::endl;
    if (!_manager) {
        logIgnored("DataReqMsg", sender);
        return;
    }
    _manager->registerClient(sender, pattern);
    _manager->requestData(_manager->compositePattern());
}

void DataCaptReceiver::receiveDataMsg(const IPC_Target& sender, char* body, const char* end)
{
    long productId = 0;
    SeqOf<char> bytes;
    // A decode failure is logged by the decoder; the callback still runs
    // with what was decoded.
    xdrQuantize(bytes, xdrQuantize(productId, body, end), end);
    const int n = bytes.length();
    QEV_LOG(LogStream::VERBOSE, sourceFile) << "ProdLen " << n << std::endl;
    if (callback) {
        // The callback may write into the bytes: they are this call's own
        // decoded copy.  No bytes still come as a valid pointer.
        char none = '\0';
        callback(productId, n, n > 0 ? bytes.elements() : &none);
    } else if (PeerLineCap::admit(LogStream::PROBLEM, sourceFile,
                                  "no data callback registered; data message dropped", sender)) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "DataCaptReceiver: no data callback registered; data message " << productId
            << " from " << sender << " dropped" << std::endl;
    }
    sendReadyMsg(sender);
}
