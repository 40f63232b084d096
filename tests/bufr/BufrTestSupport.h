// What the bufr tests share: a decoder that opens up the state the tests look
// at, with compact listings of decoded values and counts that read well in a
// failed comparison, and the process's tables loaded from the source tree's
// data/ before any test runs (BufrTestSupport.cpp).
//
//   values()  "s/descriptor=value" per value, blank separated; "#i" follows
//             a non-zero index, a character element shows its text as 'text'
//   counts()  the replication counts, blank separated
#ifndef BUFRTESTSUPPORT_H
#define BUFRTESTSUPPORT_H

#include "PlainBufrDecoder.h"

#include <string>
#include <vector>

class TestDecoder : public PlainBufrDecoder {
public:
    explicit TestDecoder(const char* patternFile = "testBufrPattern.txt")
        : _patternFile(patternFile)
    {
    }
    TextString getPatternFileName() const override { return _patternFile; }

    const Set<TextString>& prefixes() const { return _prefixSet; }
    int bitOffset() const { return _bitOffset; }
    const unsigned char* position() const { return _dataPtr; }
    void setCompressed(bool on, int subsets) { _compressed = on, _subsets = subsets; }

    bool decodeBytes(const std::vector<unsigned char>& message)
    {
        return decode(message.data(), static_cast<unsigned>(message.size()));
    }
    const SeqOf<SeqOf<int> >& groups() const { return _replDescList; }
    const SeqOf<SeqOf<int> >& nestedGroups() const { return _nestedRepList; }
    std::string values() const;
    std::string counts() const { return list(_repCountList); }
    static std::string list(const SeqOf<int>& numbers);

private:
    TextString _patternFile;
};

// The working [scale, reference, width] of a local test element.
void setCoding(int descriptor, int scale, int reference, int width);

// Section 4's data octets of a message made by BufrWriter.
std::vector<unsigned char> dataSection(const std::vector<unsigned char>& message);

#endif
