#include "ParameterizedMsg.h"

#include <cstdint>
#include <new>

#include "ChildProcess.h"
#include "Connection.h"
#include "IPC_Target.h"
#include "IpcHeader.h"
#include "LogStream.h"

ParameterizedMsg::ParameterizedMsg(ArgPkgABC* args, short type, int module)
    : _args(args), _type(type), _module(module), _priority(0), _deliveryMode(0)
{
}

ParameterizedMsg::~ParameterizedMsg()
{
    delete _args;
}

char* ParameterizedMsg::serialize(char* position) const
{
    return _args ? _args->serialize(position) : position;
}

unsigned ParameterizedMsg::length() const
{
    return _args ? _args->length() : 0;
}

char* ParameterizedMsg::buildBuffer(const IPC_Target& sender, unsigned& totalLength) const
{
    IpcHeader header(0, sender, _module, _priority, _type);
    const uint64_t total = uint64_t(header.length()) + length();
    if (total > INT32_MAX) {
        QEV_LOG(LogStream::BUG, "ParameterizedMsg")
            << "Message of " << total << " bytes is too long to build; module " << _module
            << " type " << _type << std::endl;
        return nullptr;
    }
    char* buffer = new (std::nothrow) char[total]();
    if (!buffer) {
        QEV_LOG(LogStream::PROBLEM, "ParameterizedMsg")
            << "No memory for a message of " << total << " bytes" << std::endl;
        return nullptr;
    }
    header.setTotalLength(static_cast<int32_t>(total));
    serialize(header.serialize(buffer));
    totalLength = static_cast<unsigned>(total);
    return buffer;
}

int ParameterizedMsg::send(const IPC_Target& to) const
{
    if (Connection::connections().count() == 0)
        return -2;
    if (to.isNull()) {
        QEV_LOG(LogStream::PROBLEM, "ParameterizedMsg") << "Can not send message.  Target is null"
                                                        << std::endl;
        return -2;
    }
    Connection* connection = Connection::connectionFor(_priority);
    if (!connection) {
        QEV_LOG(LogStream::BUG, "ParameterizedMsg")
            << "Can't get connection for this type of data: \n"
            << " Priority: " << _priority << std::endl;
        return -2;
    }
    unsigned totalLength = 0;
    char* buffer = buildBuffer(Connection::myTarget(), totalLength);
    if (!buffer)
        return -2;
    const int result = connection->send(to, _deliveryMode, _priority, buffer);
    if (result == -2 || result == -1) {
        QEV_LOG(result == -2 ? LogStream::PROBLEM : LogStream::EVENT, "ParameterizedMsg")
            << (result == -2 ? "Send of IPC message failed because of a system error! "
                             : "Send of IPC message failed; Target not available.")
            << "\nTarget: " << to << "\nModule: " << _module << "\nType: " << _type
            << std::endl;
    }
    return result;
}

int ParameterizedMsg::send(const ChildProcess& child) const
{
    return send(child.target());
}
