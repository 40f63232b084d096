// Replays one fuzz finding with the real decoder, in a process of its own so
// that its time and memory are its own (the bufr tests start it):
//
//     replay_finding bufr SMALL INPUT    a BUFR message (decompressed)
//     replay_finding pattern NAME        a pattern file $QEV_HOME/data/NAME
//
// For a message, one decoder decodes the small message SMALL, the input,
// then SMALL again; it prints whether the input decoded, whether SMALL
// decoded to the same values after it, and how much more heap the process
// holds after the second SMALL than after the first.  For a pattern file, a
// decoder reads it (BufrDecoder::getBufrPattern) and the pattern is
// compiled as the decoder list compiles it.  Last, the peak resident size.
// The tables are read from $QEV_HOME/data.  Exit status: 0 when it ran
// through, 1 when a file could not be read, 2 usage.
#include "../../support/PlainBufrDecoder.h"
#include "../../support/heapInUse.h"

#include <regex.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class PatternDecoder : public PlainBufrDecoder {
public:
    explicit PatternDecoder(const char* name) : _name(name) {}
    TextString getPatternFileName() const override { return _name; }

private:
    TextString _name;
};

bool readFile(const char* path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in) || in.eof();
}

// The values of the last message, as text.
std::string values(PlainBufrDecoder& decoder)
{
    std::string out;
    const SeqOf<BufrValues>& list = decoder.getDecodedValues();
    for (int i = 0; i < list.length(); ++i) {
        const BufrValues& v = list[i];
        out += std::to_string(v.getSubset()) + "/" + std::to_string(v.getDescriptor()) + "=" +
               std::to_string(v.getValue()) + "#" + std::to_string(v.getIndex()) + "'" +
               v.getCharValue().c_str() + "' ";
    }
    return out;
}

long peakResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0)
            return std::stol(line.substr(6));
    return -1;
}

int replayMessage(const char* smallPath, const char* inputPath)
{
    std::string small, input;
    if (!readFile(smallPath, small) || !readFile(inputPath, input) || small.empty())
        return 1;
    PlainBufrDecoder decoder;
    const unsigned smallSize = static_cast<unsigned>(small.size());
    if (!decoder.decode(small.data(), smallSize))
        return 1;
    const std::string alone = values(decoder);
    const long before = static_cast<long>(heapInUse());
    const bool decoded = decoder.decode(input.data(), static_cast<unsigned>(input.size()));
    std::printf("replay: input %s\n", decoded ? "decoded" : "refused");
    const bool again = decoder.decode(small.data(), smallSize) && values(decoder) == alone;
    std::printf("replay: small message after it %s\n", again ? "the same" : "differs");
    std::printf("replay: heap grown %ld\n", static_cast<long>(heapInUse()) - before);
    return 0;
}

int replayPattern(const char* name)
{
    PatternDecoder decoder(name);
    const TextString pattern = decoder.getBufrPattern();
    regex_t compiled;
    const bool compiles =
        pattern.length() > 0 && regcomp(&compiled, pattern.c_str(), REG_EXTENDED) == 0;
    if (compiles)
        regfree(&compiled);
    std::printf("replay: pattern [%s] %s\n", pattern.c_str(), compiles ? "compiled" : "not used");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    int status = 2;
    if (argc == 4 && std::strcmp(argv[1], "bufr") == 0)
        status = replayMessage(argv[2], argv[3]);
    else if (argc == 3 && std::strcmp(argv[1], "pattern") == 0)
        status = replayPattern(argv[2]);
    if (status == 2)
        std::fprintf(stderr, "usage: replay_finding bufr SMALL INPUT | pattern NAME\n");
    else
        std::printf("replay: peak resident %ld kB\n", peakResidentKb());
    std::fflush(stdout);
    return status;
}
