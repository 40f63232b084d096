// The client call of the comms router's protocol (module 0): a data
// consumer registers its pattern and its data callback, and the router then
// sends it a CDMsg for every product whose key matches the pattern.
#ifndef COMMSCLIENT_H
#define COMMSCLIENT_H

#include "CommsReceiver.h"

class CommsReqTimer;
class TextString;

// Adds the callback to the comms receiver, then sends the router (a target
// text, normally a named target of the configuration) a CRMsg with the
// pattern.  A send that fails is repeated every 15 seconds by a request
// timer; a new request replaces a pending one.  0, or -1 (logged) when the
// name gives no target.
int getCommsData(const TextString& pattern, const TextString& routerName,
                 CommsReceiver::DataCallback callback);

// The request timer still retrying, or null.
const CommsReqTimer* pendingCommsRequest();

#endif
