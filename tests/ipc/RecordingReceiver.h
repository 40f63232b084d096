// A receiver of the message tests: records what the dispatcher hands it.
#ifndef RECORDINGRECEIVER_H
#define RECORDINGRECEIVER_H

#include <string>
#include <vector>

#include "IPC_Target.h"
#include "Receiver.h"

class RecordingReceiver : public Receiver {
public:
    struct Received {
        short type;
        std::string sender;
        std::string body;
    };

    void receive(const short* type, const IPC_Target& sender, unsigned long bodyLength,
                 char* body) override
    {
        received.push_back({*type, sender.address().c_str(), std::string(body, bodyLength)});
    }
    std::vector<Received> received;
};

#endif
