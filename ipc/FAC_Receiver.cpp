#include "FAC_Receiver.h"

#include "Dispatcher.h"
#include "FAC_Client.h"
#include "FilePathMsg.h"
#include "IpcModule.h"
#include "LogStream.h"
#include "LogText.h"

namespace {
const char* const sourceFile = "FAC_Receiver";
}

FAC_Receiver* FAC_Receiver::instance()
{
    static FAC_Receiver* receiver = new FAC_Receiver;
    return receiver;
}

void FAC_Receiver::initialise()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    Dispatcher::addReceiver(FAC_MODULE, instance());
}

FAC_Receiver::~FAC_Receiver()
{
    for (int i = 0; i < _clients.count(); ++i)
        delete _clients.value(i);
}

void FAC_Receiver::registerClient(const TextString& path, FAC_Client* client)
{
    Set<FAC_Client*>* clients = nullptr;
    if (!_clients.find(path, nullptr, &clients)) {
        clients = new Set<FAC_Client*>;
        _clients.insert(path, clients);
    }
    clients->insert(client);
}

void FAC_Receiver::unregisterClient(const TextString& path, FAC_Client* client)
{
    Set<FAC_Client*>* clients = nullptr;
    if (!_clients.find(path, nullptr, &clients)) {
        QEV_LOG(LogStream::BUG, sourceFile)
            << "No registration for path " << LogText(path) << std::endl;
        return;
    }
    if (!clients->remove(client)) {
        QEV_LOG(LogStream::BUG, sourceFile) << "No matching client for path " << LogText(path)
                                            << std::endl;
    }
}

void FAC_Receiver::notifyClients(const TextString& path)
{
    Set<FAC_Client*>* clients = nullptr;
    if (!_clients.find(path, nullptr, &clients))
        return;
    const Set<FAC_Client*> copy(*clients);
    for (int i = 0; i < copy.count(); ++i)
        copy[i]->pathNotice(path);
}

void FAC_Receiver::receive(const short* type, const IPC_Target&, unsigned long bodyLength,
                           char* body)
{
    if (*type != FilePathMsg::TYPE) {
        QEV_LOG(LogStream::BUG, sourceFile) << "Bad msg type " << *type << " in FAC_Receiver"
                                            << std::endl;
        return;
    }
    FilePathMsg::Args args;
    if (args.quantize(body, body + bodyLength))
        notifyClients(args.arg1());
}
