// The decoder harnesses' repair of a message frame: the decoder reads a
// message only when its declared length ends within the bytes given, on
// "7777", with its sections ending right before it, so most inputs a
// mutation lengthened or shortened would stop at section 0.  wholeFrame
// gives the bytes again with that frame made whole (the total length of
// section 0 counting to the end and "7777" appended, where they do not
// frame the message already, and section 4's length ending where section
// 5 begins), so that the sections behind it are reached as well.
// Header-only.
#ifndef WHOLEFRAME_H
#define WHOLEFRAME_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

// Where section 4 begins in the message at m of `declared` octets, when
// sections 1 to 3 (section 2 when section 1 flags it) lie before its last 8
// octets; 0 otherwise.
inline size_t wholeFrameSection4(const uint8_t* m, size_t declared)
{
    size_t at = 8;
    for (int section = 1; section <= 3; ++section) {
        if (at + 10 > declared)
            return 0;
        if (section == 2 && (m[8 + (m[7] >= 4 ? 9 : 7)] & 0x80) == 0)
            continue;
        at += (size_t(m[at]) << 16) | (size_t(m[at + 1]) << 8) | m[at + 2];
    }
    return at + 8 <= declared ? at : 0;
}

// The bytes with their first message's frame made whole; empty when there
// is no "BUFR" with a section 0 within the first 120 octets, when the frame
// is whole already or cannot be made so, or when the length would not fit
// section 0's 3 octets.
inline std::vector<uint8_t> wholeFrame(const uint8_t* data, size_t size)
{
    for (size_t h = 0; h < 120 && h + 8 <= size; ++h) {
        if (std::memcmp(data + h, "BUFR", 4) != 0)
            continue;
        const size_t declared =
            (size_t(data[h + 4]) << 16) | (size_t(data[h + 5]) << 8) | data[h + 6];
        const bool framed = declared >= 12 && declared <= size - h &&
                            std::memcmp(data + h + declared - 4, "7777", 4) == 0;
        const size_t total = framed ? declared : size - h + 4;
        if (total > 0xFFFFFF)
            return {};
        std::vector<uint8_t> whole(data, data + size);
        if (!framed) {
            whole[h + 4] = static_cast<uint8_t>(total >> 16);
            whole[h + 5] = static_cast<uint8_t>(total >> 8);
            whole[h + 6] = static_cast<uint8_t>(total);
            whole.insert(whole.end(), {'7', '7', '7', '7'});
        }
        const size_t section4 = wholeFrameSection4(whole.data() + h, total);
        const size_t length = total - 4 - section4;
        if (section4 > 0) {
            const uint8_t octets[3] = {static_cast<uint8_t>(length >> 16),
                                       static_cast<uint8_t>(length >> 8),
                                       static_cast<uint8_t>(length)};
            if (framed && std::memcmp(&whole[h + section4], octets, 3) == 0)
                return {};
            std::memcpy(&whole[h + section4], octets, 3);
        }
        return framed && section4 == 0 ? std::vector<uint8_t>() : whole;
    }
    return {};
}

#endif
