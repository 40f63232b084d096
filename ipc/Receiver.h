// Receiver: the handler of one module's messages.  A receiver registers
// itself with the Dispatcher for its module (Dispatcher::addReceiver); the
// dispatcher then calls receive for every complete message of that module.
//
// The body pointer and everything reachable through it belong to the
// dispatcher's buffer, which is freed when receive returns: a receiver reads
// from it during the call and keeps nothing that points into it.  The body
// is bodyLength bytes long; a receiver never reads past body + bodyLength.
#ifndef RECEIVER_H
#define RECEIVER_H

class IPC_Target;

class Receiver {
public:
    Receiver() {}
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    virtual ~Receiver();

    // One message: type points to the header's type, sender is the sender's
    // target from the header, body is the first byte of the argument package.
    virtual void receive(const short* type, const IPC_Target& sender, unsigned long bodyLength,
                         char* body) = 0;
};

#endif
