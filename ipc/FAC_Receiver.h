// FAC_Receiver: the receiver of module 17, notices about file paths, and
// the registry of the objects interested in each path.  A notice (type 0)
// names one path; every client registered for exactly that text is told.
// The receiver owns the sets of clients, not the clients.  One per process,
// registered at start-up; main thread only.
#ifndef FAC_RECEIVER_H
#define FAC_RECEIVER_H

#include "Dict.h"
#include "Receiver.h"
#include "Set.h"
#include "TextString.h"

class FAC_Client;

class FAC_Receiver : public Receiver {
public:
    // The process's receiver, made on first use and never destroyed (a
    // message dispatched from an exit handler still finds it).
    static FAC_Receiver* instance();
    // Makes the receiver and registers it for module 17; part of the
    // message layer's start-up.  A second call changes nothing.
    static void initialise();

    ~FAC_Receiver() override;

    // A client already registered for the path is not added twice.
    void registerClient(const TextString& path, FAC_Client* client);
    // BUG lines for a path never registered or a client not registered for
    // it.  A path whose last client left keeps its empty set.
    void unregisterClient(const TextString& path, FAC_Client* client);
    // Tells each client of the path once, in set order; a client may
    // unregister during its call without disturbing the others'.
    void notifyClients(const TextString& path);

    void receive(const short* type, const IPC_Target& sender, unsigned long bodyLength,
                 char* body) override;

private:
    FAC_Receiver() {}

    Dict<TextString, Set<FAC_Client*>*> _clients;
};

#endif
