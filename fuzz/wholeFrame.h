// The decoder harnesses' repair of a message frame: the decoder reads a
// message only when its declared length ends within the bytes given, on
// "7777", so most inputs a mutation lengthened or shortened would stop at
// section 0.  wholeFrame gives the bytes again with that frame made whole
// (the total length of section 0 counting to the end, "7777" appended),
// so that the sections behind it are reached as well.  Header-only.
#ifndef WHOLEFRAME_H
#define WHOLEFRAME_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// The bytes with their first message's frame made whole; empty when there
// is no "BUFR" with a section 0 within the first 120 octets, when the frame
// is whole already, or when the length would not fit section 0's 3 octets.
inline std::vector<uint8_t> wholeFrame(const uint8_t* data, size_t size)
{
    for (size_t h = 0; h < 120 && h + 8 <= size; ++h) {
        if (std::memcmp(data + h, "BUFR", 4) != 0)
            continue;
        const size_t declared =
            (size_t(data[h + 4]) << 16) | (size_t(data[h + 5]) << 8) | data[h + 6];
        const size_t total = size - h + 4;
        if ((declared >= 12 && declared <= size - h &&
             std::memcmp(data + h + declared - 4, "7777", 4) == 0) ||
            total > 0xFFFFFF)
            return {};
        std::vector<uint8_t> framed(data, data + size);
        framed[h + 4] = static_cast<uint8_t>(total >> 16);
        framed[h + 5] = static_cast<uint8_t>(total >> 8);
        framed[h + 6] = static_cast<uint8_t>(total);
        framed.insert(framed.end(), {'7', '7', '7', '7'});
        return framed;
    }
    return {};
}

#endif
