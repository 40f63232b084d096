#include "dataCaptClient.h"

#include "DataReqMsg.h"
#include "ReadyMsg.h"
#include "waitForSignal.h"

int registerDataRequest(const IPC_Target& controller, const TextString& pattern,
                        DataCaptReceiver::DataCallback callback)
{
    DataCaptReceiver::setDataCallback(callback);
    DataReqMsg request(pattern);
    request.send(controller);
    sendReadyMsg(controller);
    return 0;
}

void sendReadyMsg(const IPC_Target& to)
{
    ReadyMsg ready;
    int tries = 1;
    // The second between tries ends early at a signal: a shutdown asked
    // for meanwhile is not kept waiting.
    while (ready.send(to) != 0 && tries < 3) {
        waitForSignal(1000000);
        ++tries;
    }
}
