// What the bufr tests share: a concrete decoder that opens up the state the
// tests look at, and the process's tables loaded from the source tree's
// data/ before any test runs (BufrTestSupport.cpp).
#ifndef BUFRTESTSUPPORT_H
#define BUFRTESTSUPPORT_H

#include "BufrDecoder.h"

#include <string>
#include <vector>

class TestDecoder : public BufrDecoder {
public:
    explicit TestDecoder(const char* patternFile = "testBufrPattern.txt")
        : _patternFile(patternFile)
    {
    }
    int getTimeout() const override { return 36000; }
    TextString getPatternFileName() const override { return _patternFile; }
    TextString getDataTypeName() const override { return "test"; }
    void processBufrDirectory() override {}

    const Set<TextString>& prefixes() const { return _prefixSet; }
    int bitOffset() const { return _bitOffset; }
    const unsigned char* position() const { return _dataPtr; }
    void setCompressed(bool on, int subsets)
    {
        _compressed = on;
        _subsets = subsets;
    }

private:
    TextString _patternFile;
};

// The working [scale, reference, width] of a local test element.
void setCoding(int descriptor, int scale, int reference, int width);

// Section 4's data octets of a message made by BufrWriter.
std::vector<unsigned char> dataSection(const std::vector<unsigned char>& message);

#endif
