// DataCaptReceiver: the receiver of module 1, the data-capture protocol,
// on the client side.  Each data message (type 2) is handed to the data
// callback the client registered (registerDataRequest), and when the
// callback has done its work a ReadyMsg goes back to the message's sender,
// so the data controller sends one data message per ReadyMsg.
//
// ReadyMsg (type 0) and DataReqMsg (type 1) are what a data controller
// receives: a receiver made with a data routing manager hands them to it; a
// receiver without one (the client's) logs and ignores them.  A data
// message that arrives before any callback is registered is logged,
// dropped and still answered.
#ifndef DATACAPTRECEIVER_H
#define DATACAPTRECEIVER_H

#include "Receiver.h"

class DataRoutingManager;

class DataCaptReceiver : public Receiver {
public:
    // productId, count, bytes: exactly count bytes (no terminating zero),
    // valid only during the call.
    typedef void (*DataCallback)(long productId, int count, char* bytes);

    DataCaptReceiver() : _manager(nullptr) {}
    // The data controller's receiver: ReadyMsgs and DataReqMsgs go to the
    // manager (not owned).  Registered by the router with
    // Dispatcher::addReceiver in place of the default one.
    explicit DataCaptReceiver(DataRoutingManager* manager) : _manager(manager) {}

    void receive(const short* type, const IPC_Target& sender, unsigned long bodyLength,
                 char* body) override;

    // Replaces the process-wide callback; null removes it.
    static void setDataCallback(DataCallback callback);
    static DataCallback dataCallback();

    // Makes the process's receiver and registers it for module 1; part of
    // the message layer's start-up.  A second call changes nothing.
    static void initialise();

private:
    void receiveReadyMsg(const IPC_Target& sender);
    void receiveDataReqMsg(const IPC_Target& sender, char* body, const char* end);
    void receiveDataMsg(const IPC_Target& sender, char* body, const char* end);

    DataRoutingManager* _manager;
};

#endif
