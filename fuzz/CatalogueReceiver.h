// The receiver of one module of the message catalogue, for the message
// reader's harness: each message whose module and type the catalogue knows
// has its body read with that message's own argument package (DSMsg's
// reader for the data streams), exactly as a receiver of the system reads
// it.  A package that reads must stay inside the body and survive a round
// trip: written again, read back and written once more, it gives the same
// bytes.  A property that fails stops the process (FuzzEnvironment::fail).
//
// It never answers a sender: the harness's peers are made of fuzzed bytes.
#ifndef CATALOGUERECEIVER_H
#define CATALOGUERECEIVER_H

#include "Receiver.h"

class CatalogueReceiver : public Receiver {
public:
    explicit CatalogueReceiver(int module) : _module(module) {}

    // Registers a receiver for every module of the catalogue (in place of
    // the process's own); a second call changes nothing.
    static void registerForAllModules();

    void receive(const short* type, const IPC_Target& sender, unsigned long bodyLength,
                 char* body) override;

    // Messages whose package read, and that did not.
    static unsigned long decoded() { return _decoded; }
    static unsigned long refused() { return _refused; }

private:
    int _module;
    static unsigned long _decoded;
    static unsigned long _refused;
};

#endif
