#include "commsClient.h"

#include "CommsMessage.h"
#include "CommsReqTimer.h"
#include "IPC_Target.h"
#include "LogStream.h"
#include "LogText.h"

namespace {

CommsReqTimer* pendingTimer = nullptr;

}  // namespace

int getCommsData(const TextString& pattern, const TextString& routerName,
                 CommsReceiver::DataCallback callback)
{
    if (pendingTimer) {
        if (pendingTimer->isActive())
            pendingTimer->stop();
        delete pendingTimer;
        pendingTimer = nullptr;
    }
    CommsReceiver::addDataCallback(callback);
    IPC_Target* router = new IPC_Target(routerName);
    if (router->isNull()) {
        QEV_LOG(LogStream::PROBLEM, "commsClient")
            << "Can't send Data Request message to " << LogText(routerName)
            << ": Not a recognized IPC Target." << std::endl;
        delete router;
        return -1;
    }
    CommsMessage* request = CommsMessage::newCommsReqMsg(pattern);
    if (request->send(*router) == 0) {
        QEV_LOG(LogStream::EVENT, "commsClient")
            << "Data Request message sent to " << LogText(routerName) << "." << std::endl;
        delete request;
        delete router;
        return 0;
    }
    pendingTimer = new CommsReqTimer(request, router);
    pendingTimer->start();
    QEV_LOG(LogStream::PROBLEM, "commsClient")
        << "Send of Data Request message to " << LogText(routerName) << " failed." << std::endl;
    return 0;
}

const CommsReqTimer* pendingCommsRequest()
{
    return pendingTimer;
}
