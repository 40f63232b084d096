#include "IPC_Target.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>

#include "Config.h"
#include "Dict.h"
#include "LogStream.h"
#include "LogText.h"
#include "SeqOf.h"
#include "serializeQuantize.h"

namespace {

const char* const sourceFile = "IPC_Target";

// Name -> named target; filled on the first look-up of a name, never
// emptied.
Dict<TextString, IPC_Target>& namedTargetTable()
{
    static Dict<TextString, IPC_Target> table;
    return table;
}

void logInvalidHost(const TextString& host, bool makingNull)
{
    QEV_LOG(LogStream::PROBLEM, sourceFile)
        << "Can't create an IPC target with invalid host: " << LogText(host) << "\n"
        << "Check the host entry in /etc/hosts." << (makingNull ? "\nMaking a null target instead." : "")
        << std::endl;
}

// A port text read as strtol reads it in base 0, cut to 16 bits.
unsigned short portNumber(const char* text)
{
    return static_cast<unsigned short>(std::strtol(text, nullptr, 0));
}

}  // namespace

void IPC_Target::readNamedTargets(Dict<TextString, IPC_Target>& table)
{
    SeqOf<TextString> texts;
    Config* config = Config::instance();
    if (!config || !config->getValue("SocketConnection.namedTargets", texts)) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "Can't get SocketConnection.namedTargets from ipc.config\n"
            << "There will be no named targets." << std::endl;
        // An entry, so that the configuration is not asked again.
        table.insert(TextString(), IPC_Target());
        return;
    }
    const SeqOf<TextString>& list = texts;
    if (list.length() % 3 != 0) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "Warning: no host and/or port specified for last\n"
            << " named target in ipc.config; it will be ignored" << std::endl;
    }
    for (int i = 0; i + 2 < list.length(); i += 3) {
        const IpAddress host(list[i + 1]);
        if (!host.isValid()) {
            logInvalidHost(list[i + 1], false);
            continue;
        }
        IPC_Target target(host, portNumber(list[i + 2].c_str()));
        target._kind = NAMED;
        target._name = list[i];
        table.insert(list[i], target);
    }
}

IPC_Target::IPC_Target() : _kind(NULL_TARGET), _pid(0)
{
    clearAddress();
}

IPC_Target::IPC_Target(const TextString& text, bool logMissing) : IPC_Target()
{
    if (text == TextString("NULL"))
        return;
    const char* s = text.c_str();
    const char* first = std::strchr(s, '/');
    const char* second = first ? std::strchr(first + 1, '/') : nullptr;
    if (second) {
        const std::string port(first + 1, second);
        setFromParts(TextString(s, static_cast<int>(first - s)), port.c_str(), second + 1);
        return;
    }
    if (!lookUpName(text, *this) && logMissing) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "Can't name IPC_Target: " << LogText(text) << "\n"
            << "Not a known named target defined in ipc.config" << std::endl;
    }
}

IPC_Target::IPC_Target(const IpAddress& host, unsigned short port, int pid)
    : _kind(ADDRESS), _pid(pid)
{
    clearAddress();
    _socketAddress.sin_addr.s_addr = host.networkWord();
    _socketAddress.sin_port = htons(port);
}

void IPC_Target::setFromParts(const TextString& host, const char* port, const char* pid)
{
    const IpAddress address(host);
    if (!address.isValid()) {
        logInvalidHost(host, true);
        return;
    }
    *this = IPC_Target(address, portNumber(port), static_cast<int>(std::strtol(pid, nullptr, 0)));
}

bool IPC_Target::lookUpName(const TextString& name, IPC_Target& target)
{
    Dict<TextString, IPC_Target>& table = namedTargetTable();
    if (table.count() == 0)
        readNamedTargets(table);
    return table.find(name, nullptr, &target);
}

IpAddress IPC_Target::hostAddress() const
{
    return IpAddress::fromNetworkWord(_socketAddress.sin_addr.s_addr);
}

unsigned short IPC_Target::port() const
{
    return ntohs(_socketAddress.sin_port);
}

void IPC_Target::clearAddress()
{
    std::memset(&_socketAddress, 0, sizeof _socketAddress);
    _socketAddress.sin_family = AF_INET;
}

TextString IPC_Target::address() const
{
    switch (_kind) {
    case NULL_TARGET:
        return TextString("unknown IPC address");
    case NAMED:
        return _name;
    default: {
        char numbers[32];
        std::snprintf(numbers, sizeof numbers, "/%d/%d", int(port()), _pid);
        return hostAddress().hostName() + TextString(numbers);
    }
    }
}

char* IPC_Target::serialize(char* position) const
{
    const unsigned short family = _socketAddress.sin_family;
    const unsigned int host = ntohl(_socketAddress.sin_addr.s_addr);
    return xdrSerializeAll(position, _kind, family, host, port(), _pid, _name);
}

int IPC_Target::length() const
{
    const unsigned short family = _socketAddress.sin_family;
    const unsigned int host = ntohl(_socketAddress.sin_addr.s_addr);
    return xdrLengthAll(_kind, family, host, port(), _pid, _name);
}

char* IPC_Target::quantize(char* position, const char* end)
{
    int kind = 0, port = 0, pid = 0;
    unsigned short family = 0;
    long host = 0;
    TextString name;
    char* next = xdrQuantizeAll(position, end, kind, family, host, port, pid, name);
    if (!next)
        return nullptr;
    // A target of another kind equals nothing, not even itself: as a
    // message's sender it could never be found again in a table of peers.
    if (kind != NULL_TARGET && kind != NAMED && kind != ADDRESS) {
        QEV_LOG(LogStream::BUG, sourceFile)
            << "IPC_Target quantize fail: bad type " << kind << std::endl;
        return nullptr;
    }
    _kind = kind;
    clearAddress();
    _socketAddress.sin_family = family;
    _socketAddress.sin_addr.s_addr = htonl(static_cast<uint32_t>(host));
    _socketAddress.sin_port = htons(static_cast<unsigned short>(port));
    _pid = pid;
    _name = name;
    return next;
}

bool IPC_Target::operator==(const IPC_Target& o) const
{
    if (_kind != o._kind)
        return false;
    switch (_kind) {
    case NULL_TARGET:
        return true;
    case NAMED:
        return this == &o || std::strcmp(_name.c_str(), o._name.c_str()) == 0;
    case ADDRESS:
        return _socketAddress.sin_addr.s_addr == o._socketAddress.sin_addr.s_addr &&
               _socketAddress.sin_family == o._socketAddress.sin_family &&
               _socketAddress.sin_port == o._socketAddress.sin_port;
    default:
        QEV_LOG(LogStream::BUG, sourceFile) << "IPC_Target::operator== failed.  Bad type."
                                            << std::endl;
        return false;
    }
}

bool IPC_Target::operator<(const IPC_Target& o) const
{
    if (_kind != o._kind)
        return _kind < o._kind;
    switch (_kind) {
    case NAMED:
        return std::strcmp(_name.c_str(), o._name.c_str()) < 0;
    case ADDRESS: {
        const uint32_t a = ntohl(_socketAddress.sin_addr.s_addr);
        const uint32_t b = ntohl(o._socketAddress.sin_addr.s_addr);
        return a != b ? a < b : port() < o.port();
    }
    default:
        return false;
    }
}

unsigned hashKey(const IPC_Target& target)
{
    switch (target.kind()) {
    case IPC_Target::NULL_TARGET:
        return 47;
    case IPC_Target::NAMED:
        return hashKey(target.name());
    case IPC_Target::ADDRESS:
        return static_cast<uint32_t>(target.socketAddress().sin_port) ^
               static_cast<uint32_t>(target.socketAddress().sin_addr.s_addr);
    default:
        return 0;
    }
}

std::ostream& operator<<(std::ostream& out, const IPC_Target& target)
{
    // Names and host names come from other processes and the configuration.
    return out << LogText(target.address());
}
