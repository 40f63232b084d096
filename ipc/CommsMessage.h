// The messages of module 0, the comms router's: raw products in
// (RawProductMsg, DSMsg), data requests (CRMsg), data out to clients (CDMsg)
// and the router's restart notice (RestartMsg).
#ifndef COMMSMESSAGE_H
#define COMMSMESSAGE_H

#include "IpcModule.h"
#include "ParameterizedMsg.h"

class TextString;

class CommsMessage : public ParameterizedMsg {
public:
    CommsMessage(ArgPkgABC* args, short type) : ParameterizedMsg(args, type, COMMS_MODULE) {}

    // New messages, each carrying a copy of the bytes given (length bytes;
    // none for a negative length or null bytes).  The caller sends and
    // deletes them.
    static CommsMessage* newRawProductMsg(long productId, long length,
                                          const unsigned char* bytes);
    // Logs the pattern (DEBUG).
    static CommsMessage* newCommsReqMsg(const TextString& pattern);
    static CommsMessage* newCDMsg(const TextString& key, long productId, long length,
                                  const unsigned char* bytes);
    // Carries the current time.
    static CommsMessage* newRestartMsg();
};

#endif
