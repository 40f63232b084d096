// Helpers of the wire tests: buffers shown as the 4-byte groups of an XDR
// stream, the targets the golden buffers use, and exact-size heap copies,
// so that AddressSanitizer reports any read past the bytes a decoder was
// given.
#ifndef WIREBYTES_H
#define WIREBYTES_H

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "AbsTime.h"
#include "DataTime.h"

// "0000002c 00000002 ...": every 4 bytes in hex, groups separated by blanks.
template <class Bytes>
std::string hexGroups(const Bytes& bytes)
{
    std::string text;
    char byte[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, i > 0 && i % 4 == 0 ? " %02x" : "%02x",
                      static_cast<unsigned>(static_cast<unsigned char>(bytes[i])));
        text += byte;
    }
    return text;
}

// The inverse: "0000002c 00000002" as bytes (blanks ignored).
inline std::string fromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); ++i) {
        if (hex[i] != ' ')
            bytes += static_cast<char>(std::stoi(hex.substr(i++, 2), nullptr, 16));
    }
    return bytes;
}

// The sender of the golden buffers, 127.0.0.1 port 40000 pid 4242 without
// a name; "<sender>" in a golden text stands for it.
const char* const kSenderHex = "00000002 00000002 7f000001 00009c40 00001092 00000000 00000000";

inline std::string golden(std::string hex)
{
    const size_t at = hex.find("<sender>");
    return at == std::string::npos ? hex : hex.replace(at, 8, kSenderHex);
}

// A target named "ABCDE" (127.0.0.1 port 8080) as it travels: 36 bytes.
inline std::string namedTargetBytes()
{
    return fromHex("00000001 00000002 7f000001 00001f90 00000000 00000005 00000005") + "ABCDE" +
           std::string(3, '\0');
}

// A data time with every part, negative times and periods and a 32-bit key.
inline DataTime fullDataTime()
{
    DataTime t{AbsTime(-86400)};
    t.setFcstPeriod(-3600);
    t.setValidPeriod(AbsTime(-90000), AbsTime(-86400), true);
    t.setSecondTime(AbsTime(-1));
    t.setKey(0xfffffffful);
    return t;
}

// A heap block holding exactly the bytes given.
class ExactCopy {
public:
    explicit ExactCopy(const std::string& s) : _bytes(new char[s.size()]), _n(s.size())
    {
        std::copy(s.begin(), s.end(), _bytes.get());
    }
    char* begin() { return _bytes.get(); }
    const char* end() const { return _bytes.get() + _n; }

private:
    std::unique_ptr<char[]> _bytes;
    size_t _n;
};

#endif
