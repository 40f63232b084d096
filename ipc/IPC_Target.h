// The address of a process: nothing at all (the null target), a symbolic
// name that the configuration maps to a host and port (a named target), or a
// host, TCP port and process id (an address target).
//
// Text form: "NULL" is the null target; "host/port/pid" an address target
// (port and pid in decimal, octal with a leading 0, or hexadecimal with 0x);
// any other text a name of the named-target table, which is filled from the
// configuration key "SocketConnection.namedTargets" (triples of name, host
// and port) on the first look-up of a name.  The table belongs to the main
// thread.
//
// Equality ignores the process id, so a restarted process on the same host
// and port is the same target.  Targets are plain values; the name is a
// shared TextString.
#ifndef IPC_TARGET_H
#define IPC_TARGET_H

#include <netinet/in.h>

#include <iosfwd>

#include "IpAddress.h"
#include "TextString.h"

template <class K, class V>
class Dict;

class IPC_Target {
public:
    enum Kind { NULL_TARGET = 0, NAMED = 1, ADDRESS = 2 };

    // The null target: kind 0, empty name, pid 0, the address cleared.
    IPC_Target();
    // Parses the text form; logMissing says whether a name missing from the
    // named-target table is logged.  A bad host or an unknown name gives the
    // null target (logged).
    explicit IPC_Target(const TextString& text, bool logMissing = true);
    // An address target of a host, a port (host byte order) and a pid, with
    // an empty name.
    IPC_Target(const IpAddress& host, unsigned short port, int pid = 0);

    int kind() const { return _kind; }
    bool isNull() const { return _kind == NULL_TARGET; }
    // Family, port and host address in network byte order.
    const struct sockaddr_in& socketAddress() const { return _socketAddress; }
    IpAddress hostAddress() const;
    // The port in host byte order.
    unsigned short port() const;
    const TextString& name() const { return _name; }
    int pid() const { return _pid; }

    // {AF_INET, port 0, address 0, zero padding}.
    void clearAddress();

    // "unknown IPC address" for the null target, the name for a named one,
    // the host name followed by "/port/pid" for an address target.  A new
    // text at each call, returned by value (never a static buffer).
    TextString address() const;

    // The wire form: kind, family, host address, port, pid, name.
    char* serialize(char* position) const;
    int length() const;
    // Reads the wire form within [position, end); null (logged) when it does
    // not fit or its kind is none of the three, the target then unchanged.
    char* quantize(char* position, const char* end);

    bool operator==(const IPC_Target& o) const;
    bool operator!=(const IPC_Target& o) const { return !(*this == o); }
    // By kind; named targets by name; address targets by host address, then
    // port; null targets never order before each other.
    bool operator<(const IPC_Target& o) const;

private:
    // The named target of a name, filling the table while it is empty.
    static bool lookUpName(const TextString& name, IPC_Target& target);
    // Fills the table from the configuration: triples of name, host, port.
    static void readNamedTargets(Dict<TextString, IPC_Target>& table);
    // Sets an address target from the parts of a "host/port/pid" text.
    void setFromParts(const TextString& host, const char* port, const char* pid);

    int _kind;
    struct sockaddr_in _socketAddress;
    TextString _name;
    int _pid;
};

// null 47; named: the text hash of the name; address: the port word XOR the
// host address word, both as stored; any other kind 0.
unsigned hashKey(const IPC_Target& target);

std::ostream& operator<<(std::ostream& out, const IPC_Target& target);

#endif
