// Shared pieces of the comms tests: the bodies of module-0 messages as a
// peer writes them (with the peer's own codec), the named client of the
// configuration, and the waits of the socket tests.
#ifndef COMMSTESTSUPPORT_H
#define COMMSTESTSUPPORT_H

#include <string>

#include "../sockets/SocketTestSupport.h"
#include "WirePeer.h"

namespace commstest {

using namespace sockettest;

// The peer behind the configuration's named target "NAMED_CLIENT".
WirePeer& namedPeer();

inline WirePeer::Bytes text(const std::string& s)
{
    WirePeer::Bytes out;
    WirePeer::putString(out, s);
    return out;
}

// A byte sequence of the comms messages: its count, then one XDR word per byte.
inline void putByteWords(WirePeer::Bytes& out, const std::string& bytes)
{
    WirePeer::putWord(out, static_cast<uint32_t>(bytes.size()));
    for (unsigned char c : bytes)
        WirePeer::putWord(out, c);
}

inline WirePeer::Bytes rawProduct(int32_t id, const std::string& bytes)
{
    WirePeer::Bytes out;
    WirePeer::putWord(out, id);
    WirePeer::putWord(out, static_cast<uint32_t>(bytes.size()));
    putByteWords(out, bytes);
    return out;
}

// length < 0: the size of the bytes.
inline WirePeer::Bytes commsData(const std::string& key, int32_t id, const std::string& bytes,
                                 int32_t length = -1)
{
    WirePeer::Bytes out = text(key);
    WirePeer::putWord(out, id);
    WirePeer::putWord(out, length < 0 ? static_cast<uint32_t>(bytes.size()) : length);
    putByteWords(out, bytes);
    return out;
}

inline WirePeer::Bytes dataStream(const std::string& key, int32_t id, const std::string& bytes)
{
    WirePeer::Bytes out = text(key);
    WirePeer::putWord(out, id);
    WirePeer::putWord(out, static_cast<uint32_t>(bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

}  // namespace commstest

#endif
