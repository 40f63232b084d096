// The BUFR messages a file holds, found by their framing: "BUFR", the total
// length of section 0 (octets 5-7, editions 2 to 4) and "7777" as the last
// four octets of that length.  What lies between messages (WMO headings,
// padding, broken messages) is passed over.  Header-only, for the tests, the
// tools and the benchmarks alike.
#ifndef FINDBUFRMESSAGES_H
#define FINDBUFRMESSAGES_H

#include <cstddef>
#include <cstring>
#include <vector>

struct BufrMessageSpan {
    std::size_t offset;
    std::size_t length;
    int edition;
};

inline std::vector<BufrMessageSpan> findBufrMessages(const unsigned char* data, std::size_t size)
{
    std::vector<BufrMessageSpan> found;
    std::size_t at = 0;
    while (size >= 8 && at <= size - 8) {
        const unsigned char* p = data + at;
        if (std::memcmp(p, "BUFR", 4) != 0) {
            ++at;
            continue;
        }
        std::size_t length = (std::size_t(p[4]) << 16) | (std::size_t(p[5]) << 8) | p[6];
        int edition = p[7];
        if (edition >= 2 && length >= 12 && length <= size - at &&
            std::memcmp(p + length - 4, "7777", 4) == 0) {
            found.push_back(BufrMessageSpan{at, length, edition});
            at += length;
        } else {
            ++at;
        }
    }
    return found;
}

#endif
