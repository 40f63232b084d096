// Dispatcher: routes each complete incoming message to the Receiver
// registered for the module named in its header.
//
// One process-wide table from module number to receiver, made by the first
// registration; the receivers are not owned by it.  Main thread only.
//
// The socket layer hands every complete message (header and body, exactly
// as read from the wire) to doDispatch together with the number of bytes it
// read; the dispatcher checks the header against that length before any
// receiver sees the body.
#ifndef DISPATCHER_H
#define DISPATCHER_H

#include <cstdint>

class Receiver;

class Dispatcher {
public:
    // Enters the receiver for the module, replacing any receiver already
    // entered for it.  Always 0.
    static int addReceiver(int module, Receiver* receiver);
    // The receiver entered for the module, or null.
    static Receiver* receiverFor(int module);

    // Dispatches one message of bufferLength bytes and frees the buffer
    // (delete[]) afterwards, whatever happened.  A header that does not
    // decode, a total length beyond the buffer, or a header longer
    // than the total length drops the message with a PROBLEM line.
    static void doDispatch(char* buffer, uint32_t bufferLength);
};

#endif
