#include "Dispatcher.h"

#include "Dict.h"
#include "IPC_Target.h"
#include "IpcHeader.h"
#include "LogStream.h"
#include "PeerLineCap.h"
#include "Receiver.h"

namespace {
// Made by the first registration; never destroyed, so that a message
// dispatched from an exit handler still finds it.
Dict<int, Receiver*>* receivers = nullptr;
}

int Dispatcher::addReceiver(int module, Receiver* receiver)
{
    if (!receivers)
        receivers = new Dict<int, Receiver*>;
    receivers->insert(module, receiver);
    return 0;
}

Receiver* Dispatcher::receiverFor(int module)
{
    Receiver* receiver = nullptr;
    if (receivers)
        receivers->find(module, nullptr, &receiver);
    return receiver;
}

void Dispatcher::doDispatch(char* buffer, uint32_t bufferLength)
{
    if (!receivers) {
        QEV_LOG(LogStream::PROBLEM, "Dispatcher")
            << "Dispatcher::doDispatch: no receivers registered" << std::endl;
        delete[] buffer;
        return;
    }
    IpcHeader header;
    char* body = buffer ? header.quantize(buffer, buffer + bufferLength) : nullptr;
    // The header's own length says where the message ends; it must lie
    // within what was read and behind the header, or the body length wraps.
    uint32_t headerLength = body ? static_cast<uint32_t>(body - buffer) : 0;
    uint32_t totalLength = static_cast<uint32_t>(header.totalLength());
    if (!body || header.totalLength() < 0 || totalLength > bufferLength ||
        totalLength < headerLength) {
        if (PeerLineCap::admit(LogStream::PROBLEM, "Dispatcher",
                               "Dropping a message whose header does not fit it",
                               body ? header.sender() : IPC_Target()))
            QEV_LOG(LogStream::PROBLEM, "Dispatcher")
                << "Dropping a message whose header does not fit it: total length "
                << header.totalLength() << ", header " << headerLength << " bytes, "
                << bufferLength << " bytes read" << std::endl;
        delete[] buffer;
        return;
    }
    Receiver* receiver = nullptr;
    if (receivers->find(header.module(), nullptr, &receiver) && receiver) {
        short type = header.type();
        receiver->receive(&type, header.sender(), totalLength - headerLength, body);
    } else if (PeerLineCap::admit(LogStream::PROBLEM, "Dispatcher",
                                  "No receivers registered for module ...", header.sender())) {
        QEV_LOG(LogStream::PROBLEM, "Dispatcher")
            << "No receivers registered for module " << header.module() << std::endl;
    }
    delete[] buffer;
}
