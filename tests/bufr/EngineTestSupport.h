// What the decoding engine's tests share: a decoder that opens up the
// expansion lists, and compact listings of decoded values and counts that
// read well in a failed comparison.
//
//   values()  "s/descriptor=value" per value, blank separated; "#i" follows
//             a non-zero index, a character element shows its text as 'text'
//   counts()  the replication counts, blank separated
#ifndef ENGINETESTSUPPORT_H
#define ENGINETESTSUPPORT_H

#include "PlainBufrDecoder.h"

#include <cstdio>
#include <string>
#include <vector>

class EngineDecoder : public PlainBufrDecoder {
public:
    bool decodeBytes(const std::vector<unsigned char>& message)
    {
        return decode(message.data(), static_cast<unsigned>(message.size()));
    }

    const SeqOf<SeqOf<int> >& groups() const { return _replDescList; }
    const SeqOf<SeqOf<int> >& nestedGroups() const { return _nestedRepList; }

    std::string values() const
    {
        std::string out;
        const SeqOf<BufrValues>& values = _decodedValues;
        for (int i = 0; i < values.length(); ++i) {
            const BufrValues& v = values[i];
            char buf[64];
            if (v.getValue() == CHARACTER_VALUE)
                std::snprintf(buf, sizeof buf, "%d/%d='%s'", v.getSubset(), v.getDescriptor(),
                              v.getCharValue().c_str());
            else
                std::snprintf(buf, sizeof buf, "%d/%d=%.7g", v.getSubset(), v.getDescriptor(),
                              v.getValue());
            out += (out.empty() ? "" : " ") + std::string(buf);
            if (v.getIndex() != 0)
                out += "#" + std::to_string(v.getIndex());
        }
        return out;
    }

    static std::string list(const SeqOf<int>& numbers)
    {
        std::string out;
        for (int i = 0; i < numbers.length(); ++i)
            out += (i ? " " : "") + std::to_string(numbers[i]);
        return out;
    }

    std::string counts() const { return list(_repCountList); }
};

#endif
