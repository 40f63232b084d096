// One IPv4 address word, kept in network byte order exactly as the resolver
// returns it; 0xffffffff means no address (what a failed look-up leaves).
//
// Names are resolved with getaddrinfo and getnameinfo, which are safe in any
// thread.
#ifndef IPADDRESS_H
#define IPADDRESS_H

#include <cstdint>

#include "TextString.h"

class IpAddress {
public:
    static constexpr uint32_t NONE = 0xffffffffu;

    // The address of the local host: its name looked up, or 127.0.0.1 when
    // the name or its look-up fails (logged).
    IpAddress();
    // The address of a dotted-quad text or of a host name; NONE (logged)
    // when neither gives one.
    explicit IpAddress(const TextString& host);
    // A word already in network byte order.
    static IpAddress fromNetworkWord(uint32_t word);

    uint32_t networkWord() const { return _address; }
    bool isValid() const { return _address != NONE; }

    // The host name of the address, or its dotted text when it has none.
    TextString hostName() const;
    // The dotted text ("127.0.0.1").
    TextString dottedText() const;

    bool operator==(const IpAddress& o) const { return _address == o._address; }
    bool operator!=(const IpAddress& o) const { return _address != o._address; }

private:
    struct Word {};
    IpAddress(uint32_t word, Word) : _address(word) {}
    // The first IPv4 address of a host name; false when it has none.
    static bool lookUp(const char* host, uint32_t& word);

    uint32_t _address;
};

#endif
