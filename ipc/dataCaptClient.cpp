#include "dataCaptClient.h"

#include <unistd.h>

#include "DataReqMsg.h"
#include "ReadyMsg.h"

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
    while (ready.send(to) != 0 && tries < 3) {
        sleep(1);
        ++tries;
    }
}
