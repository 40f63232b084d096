// The client calls of the data-capture protocol (module 1): a process
// registers its data request pattern and its data callback with a data
// controller, and says it is ready for the next data message.
#ifndef DATACAPTCLIENT_H
#define DATACAPTCLIENT_H

#include "DataCaptReceiver.h"

class IPC_Target;
class TextString;

// Registers the callback, then sends the controller a DataReqMsg with the
// pattern (once; its result is not looked at) and a ReadyMsg.  Always 0.
int registerDataRequest(const IPC_Target& controller, const TextString& pattern,
                        DataCaptReceiver::DataCallback callback);

// Sends a ReadyMsg, up to 3 times with a pause of 1 second before each
// retry; each failed send has logged.
void sendReadyMsg(const IPC_Target& to);

#endif
