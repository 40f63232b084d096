// What decoding one message leaves in a decoder for the data-type decoders
// to read: the result, section 1's time and data category, section 3's
// subsets, compression, expanded descriptors and replication groups, the
// values (getDecodedValues, as the decoders ask for them) and the
// replication factors.  The decoder harnesses compare the outcome of a
// message in a decoder that has decoded other messages before it with its
// outcome in a decoder of its own: a message that leaves state behind for
// the next (an operator in force, a width, a count, a flag) is a fault even
// when nothing crashes.
#ifndef DECODEOUTCOME_H
#define DECODEOUTCOME_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "PlainBufrDecoder.h"

class DecodeOutcome {
public:
    // A decoder whose replication state is open to the comparison.
    class Decoder : public PlainBufrDecoder {
    public:
        const SeqOf<int>& repCounts() const { return _repCountList; }
        const SeqOf<SeqOf<int> >& groups() const { return _replDescList; }
        const SeqOf<SeqOf<int> >& nestedGroups() const { return _nestedRepList; }
    };

    // Decodes the bytes with the decoder and takes what it left.
    static DecodeOutcome of(Decoder& decoder, const uint8_t* data, size_t size);

    // What differs from the expected outcome, in words; empty when nothing
    // does.  Values are compared bit for bit.
    std::string differenceFrom(const DecodeOutcome& expected) const;

    bool ok() const { return _ok; }
    int valueCount() const { return _values.length(); }
    int descriptorCount() const { return _descriptors.length(); }

private:
    bool _ok = false;
    int32_t _obTime = 0;
    int _category = 0;
    int _subsets = 0;
    bool _compressed = false;
    SeqOf<int> _descriptors;
    SeqOf<SeqOf<int> > _groups;
    SeqOf<SeqOf<int> > _nestedGroups;
    SeqOf<int> _repCounts;
    SeqOf<BufrValues> _values;
};

#endif
