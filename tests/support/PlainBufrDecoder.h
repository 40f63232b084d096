// A decoder of no data type: BufrDecoder with trivial answers to its pure
// operations, for the tests, tools and benchmarks that decode messages and
// look at the result.  It stores nothing and exposes the message state that
// the data-type decoders read.  Header-only.
#ifndef PLAINBUFRDECODER_H
#define PLAINBUFRDECODER_H

#include "BufrDecoder.h"

class PlainBufrDecoder : public BufrDecoder {
public:
    int getTimeout() const override { return 36000; }
    TextString getPatternFileName() const override { return "plainBufrPattern.txt"; }
    TextString getDataTypeName() const override { return "Plain BUFR"; }
    void processBufrDirectory() override {}

    const AbsTime& obTime() const { return _obTime; }
    int dataCategory() const { return _dataCategory; }
    int subsets() const { return _subsets; }
    bool compressed() const { return _compressed; }
    const SeqOf<int>& descriptors() const { return _descriptors; }
};

#endif
