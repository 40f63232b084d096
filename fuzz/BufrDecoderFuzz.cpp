// The BUFR decoder on arbitrary bytes.
//
// A new decoder takes the input, then, when the input's descriptors were
// expanded, as the process's decoders take message after message, two
// reference messages (standard and compressed data, built by the tests' BUFR
// writer): each must decode exactly as it does in a decoder of its own.  A message that leaves state behind for the
// next one (an operator still in force, a width, a count) is a fault even
// when nothing crashes.
#include <cstring>
#include <string>
#include <vector>

#include "BufrWriter.h"
#include "FuzzEnvironment.h"
#include "PlainBufrDecoder.h"

namespace {

struct Outcome {
    bool ok = false;
    int32_t obTime = 0;
    int category = 0;
    int subsets = 0;
    bool compressed = false;
    SeqOf<int> descriptors;
    SeqOf<BufrValues> values;
};

Outcome decodeOnce(PlainBufrDecoder& decoder, const uint8_t* data, size_t size)
{
    Outcome out;
    out.ok = decoder.decode(data, static_cast<unsigned>(size));
    out.obTime = static_cast<int32_t>(decoder.obTime().seconds());
    out.category = decoder.dataCategory();
    out.subsets = decoder.subsets();
    out.compressed = decoder.compressed();
    out.descriptors = decoder.descriptors();
    out.values = decoder.getDecodedValues();
    return out;
}

bool sameValue(const BufrValues& a, const BufrValues& b)
{
    const float x = a.getValue();
    const float y = b.getValue();
    return a.getSubset() == b.getSubset() && a.getDescriptor() == b.getDescriptor() &&
           a.getIndex() == b.getIndex() && std::memcmp(&x, &y, sizeof x) == 0 &&
           a.getCharValue() == b.getCharValue();
}

const char* const harness = "fuzz_bufr_decoder";

void compare(const Outcome& expected, const Outcome& got)
{
    if (expected.ok != got.ok || expected.obTime != got.obTime ||
        expected.category != got.category || expected.subsets != got.subsets ||
        expected.compressed != got.compressed || !(expected.descriptors == got.descriptors))
        FuzzEnvironment::fail(harness, "a reference message decodes otherwise after the input");
    if (expected.values.length() != got.values.length())
        FuzzEnvironment::fail(harness, "a reference message gives another number of values");
    for (int i = 0; i < expected.values.length(); ++i) {
        if (!sameValue(expected.values[i], got.values[i]))
            FuzzEnvironment::fail(harness, "value " + std::to_string(i) +
                                               " of a reference message differs after the input");
    }
}

struct Reference {
    std::vector<unsigned char> message;
    Outcome outcome;
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
        PlainBufrDecoder own;
        r.outcome = decodeOnce(own, r.message.data(), r.message.size());
        if (!BufrDecoder::tablesLoaded() || !r.outcome.ok || r.outcome.values.length() == 0)
            FuzzEnvironment::fail(harness, "a reference message does not decode");
        references.push_back(r);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PlainBufrDecoder decoder;
    // A message refused before its descriptors were expanded has left
    // nothing behind (and the references would cost most of the run).
    if (decodeOnce(decoder, data, size).descriptors.length() == 0)
        return 0;
    for (const Reference& r : references)
        compare(r.outcome, decodeOnce(decoder, r.message.data(), r.message.size()));
    return 0;
}
