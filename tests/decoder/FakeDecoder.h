// A decoder for the tests of the process and the file flow: the shared flow
// with its own record ("/ispan/bufr/fake", "/ispan/badFake", every name, a
// reading trace, the 0.3 s pause), the real decode, and a storing step that
// answers what the test sets.  Header-only: the tests and the fake decoder
// program share it.
#ifndef FAKEDECODER_H
#define FAKEDECODER_H

#include "BufrFileDecoder.h"

class FakeDecoder : public BufrFileDecoder {
public:
    static Record fakeRecord()
    {
        Record r;
        r.sourceName = "FakeDecoder";
        r.ingestPath = "/ispan/bufr/fake";
        r.badPath = "/ispan/badFake";
        r.rejectionText = " is not a fake BUFR file.";
        r.readingTrace = " fakeBufrData.......";
        r.logInputFileName = true;
        r.pauseMicroseconds = 300000;
        return r;
    }

    explicit FakeDecoder(const Record& record = fakeRecord(),
                         const char* patternFile = "fakeBufrPattern.txt", int timeout = 36000)
        : BufrFileDecoder(record), _patternFile(patternFile), _timeout(timeout)
    {
    }

    int getTimeout() const override { return _timeout; }
    TextString getPatternFileName() const override { return _patternFile; }
    TextString getDataTypeName() const override { return "Fake Soundings"; }
    void processBufrDirectory() override
    {
        ++passes;
        BufrFileDecoder::processBufrDirectory();
    }
    int write2NetcdfFile() override
    {
        ++writes;
        _netcdfFileName = "20240315_1200";
        return writeResult;
    }

    int writeResult = 1;
    int passes = 0;
    int writes = 0;
    bool designatorVerdict = true;

protected:
    TextString readingTraceName() const override { return "ETA"; }
    bool checkDesignator(const TextString&) override { return designatorVerdict; }

private:
    TextString _patternFile;
    int _timeout;
};

#endif
