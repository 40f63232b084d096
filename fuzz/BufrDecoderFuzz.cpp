// The BUFR decoder on arbitrary bytes.
//
// A new decoder takes the input, then, when the input's descriptors were
// expanded, as the process's decoders take message after message, two
// reference messages (standard and compressed data, built by the tests' BUFR
// writer): each must decode exactly as it does in a decoder of its own
// (DecodeOutcome).  An input whose frame is not whole (a mutation changed
// its length) is taken with its frame made whole as well (wholeFrame.h).
#include <string>
#include <vector>

#include "BufrWriter.h"
#include "DecodeOutcome.h"
#include "FuzzEnvironment.h"
#include "wholeFrame.h"

namespace {

const char* const harness = "fuzz_bufr_decoder";

struct Reference {
    std::vector<unsigned char> message;
    DecodeOutcome outcome;
};

std::vector<Reference> references;

std::vector<unsigned char> referenceMessage(bool compressed)
{
    BufrWriter w(4);
    if (compressed) {
        w.compressed(true).subsets(3).descriptors({301011, 1015, 5001, 12101});
        w.column(4001, {2004, 2004, 2004}).column(4002, {3, 3, 3}).column(4003, {15, 15, 16})
            .charsColumn(1015, {"ALPHA", "B", "GAMMA"}).column(5001, {45.5, -12.25, 0})
            .column(12101, {BufrWriter::missingValue(), 273.15, 250});
    } else {
        w.subsets(2).descriptors({301011, 1015, 101000, 31001, 12101});
        w.element(4001, 2004).element(4002, 3).element(4003, 15).chars(1015, "STATION")
            .factor(31001, 2).element(12101, 273.15).element(12101, 270.5);
        w.element(4001, 2004).element(4002, 3).element(4003, 16).chars(1015, "B")
            .factor(31001, 0);
    }
    return w.build();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    for (bool compressed : {false, true}) {
        Reference r;
        r.message = referenceMessage(compressed);
        DecodeOutcome::Decoder own;
        r.outcome = DecodeOutcome::of(own, r.message.data(), r.message.size());
        if (!BufrDecoder::tablesLoaded() || !r.outcome.ok() || r.outcome.valueCount() == 0)
            FuzzEnvironment::fail(harness, "a reference message does not decode");
        references.push_back(r);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DecodeOutcome::Decoder decoder;
    // A message refused before its descriptors were expanded has left
    // nothing behind (and the references would cost most of the run).
    if (DecodeOutcome::of(decoder, data, size).descriptorCount() == 0) {
        const std::vector<uint8_t> framed = wholeFrame(data, size);
        if (framed.empty() ||
            DecodeOutcome::of(decoder, framed.data(), framed.size()).descriptorCount() == 0)
            return 0;
    }
    for (const Reference& r : references) {
        const std::string difference =
            DecodeOutcome::of(decoder, r.message.data(), r.message.size())
                .differenceFrom(r.outcome);
        if (!difference.empty())
            FuzzEnvironment::fail(harness, "after the input a reference message: " + difference);
    }
    return 0;
}
