// CommsReceiver: the receiver of module 0, the comms router's messages.
//
// On the router's side it takes raw products (RawProductMsg, DSMsg), finds
// their key and routes them through the comms routing table, and registers
// clients that ask for data (CRMsg).  On a client's side it hands each
// comms data message (CDMsg) to the data callbacks registered with it.  The
// router's restart notice is only logged.
//
// A length field that promises more bytes than the message carries is
// held to the bytes present (logged); a negative length counts as 0.
#ifndef COMMSRECEIVER_H
#define COMMSRECEIVER_H

#include "Receiver.h"

class TextString;

class CommsReceiver : public Receiver {
public:
    // Key, product id, length and the bytes: exactly length bytes, valid
    // only during the call.
    typedef void (*DataCallback)(TextString* key, long productId, long length,
                                 unsigned char* bytes);

    void receive(const short* type, const IPC_Target& sender, unsigned long bodyLength,
                 char* body) override;

    // Adds the callback to the process-wide list unless it is listed
    // already; callbacks stay for the life of the process.
    static void addDataCallback(DataCallback callback);
    static int dataCallbackCount();

    // Makes the process's receiver and registers it for module 0; part of
    // the message layer's start-up.  A second call changes nothing.
    static void initialise();

    // The PROBLEM dump of a product without a usable key: its first 45
    // bytes and a newline byte.
    static void logByteStream(long length, const unsigned char* bytes);

private:
    void receiveRawProductMsg(char* body, const char* end);
    void receiveDSMsg(char* body, const char* end);
    void receiveCRMsg(const IPC_Target& sender, char* body, const char* end);
    void receiveCDMsg(char* body, const char* end);
};

#endif
