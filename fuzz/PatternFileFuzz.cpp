// The pattern-file reader of the decoders (BufrDecoder::getBufrPattern): the
// input is a pattern file in $QEV_HOME/data.  One decoder reads it, a second
// decoder of the same file gets the process's kept copy; both must end with
// the same pattern, the same prefixes and the same designator expressions.
// The pattern is then compiled as the decoder list compiles it, so that an
// expression the system's regcomp writes out into gigabytes shows.
//
// The reader keeps what it read for the life of the process, by file name
// (a process has a few pattern files).  Each input is written under a new
// name so that each one is read from its file; the process's memory grows
// with the inputs, so runs of this harness are bounded in inputs.
#include <regex.h>
#include <string>

#include "FuzzEnvironment.h"
#include "PlainBufrDecoder.h"

namespace {

class PatternDecoder : public PlainBufrDecoder {
public:
    explicit PatternDecoder(const std::string& fileName) : _fileName(fileName.c_str()) {}
    TextString getPatternFileName() const override { return _fileName; }
    const Set<TextString>& prefixes() const { return _prefixSet; }

private:
    TextString _fileName;
};

void compare(const PatternDecoder& read, const PatternDecoder& kept)
{
    const char* const harness = "fuzz_pattern_file";
    const Set<TextString>& prefixes = read.prefixes();
    if (prefixes.count() != kept.prefixes().count())
        FuzzEnvironment::fail(harness, "the kept pattern has another number of prefixes");
    for (int i = 0; i < prefixes.count(); ++i) {
        const TextString& prefix = prefixes[i];
        if (!kept.prefixes().find(prefix))
            FuzzEnvironment::fail(harness, "the kept pattern lacks a prefix");
        if ((read.designatorPattern(prefix) == nullptr) !=
            (kept.designatorPattern(prefix) == nullptr))
            FuzzEnvironment::fail(harness, "the kept pattern has other designators");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string name = FuzzEnvironment::writeFreshDataFile("pattern", data, size);
    PatternDecoder read(name);
    const TextString pattern = read.getBufrPattern();
    FuzzEnvironment::removeDataFile(name);
    PatternDecoder kept(name);
    if (!(kept.getBufrPattern() == pattern))
        FuzzEnvironment::fail("fuzz_pattern_file", "the kept pattern differs from the file's");
    compare(read, kept);
    regex_t compiled;
    if (pattern.length() > 0 && regcomp(&compiled, pattern.c_str(), REG_EXTENDED) == 0)
        regfree(&compiled);
    return 0;
}
