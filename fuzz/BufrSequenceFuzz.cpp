// The BUFR decoder over several messages in a row, as a decoder takes the
// files of its ingest directory one after the other.
//
// The input is cut before every "BUFR" after its first octet into at most
// maxMessages messages (what precedes the first "BUFR" stays with it, as a
// bulletin header does).  One decoder decodes them in order; each must
// decode exactly as it does in a decoder of its own (DecodeOutcome): no
// cache, operator, count or flag may carry one message into the next.  A
// piece whose frame is not whole is taken with its frame made whole
// (wholeFrame.h), so that its sections are reached.
#include <cstring>
#include <string>
#include <vector>

#include "DecodeOutcome.h"
#include "FuzzEnvironment.h"
#include "wholeFrame.h"

namespace {

const int maxMessages = 8;

typedef std::vector<uint8_t> Piece;

// A piece of the input, its frame made whole when it is not.
Piece piece(const uint8_t* data, size_t size)
{
    Piece framed = wholeFrame(data, size);
    return framed.empty() ? Piece(data, data + size) : framed;
}

std::vector<Piece> messagesOf(const uint8_t* data, size_t size)
{
    std::vector<Piece> pieces;
    size_t start = 0;
    for (size_t at = 1; at + 4 <= size && pieces.size() + 1 < maxMessages; ++at) {
        if (std::memcmp(data + at, "BUFR", 4) == 0) {
            pieces.push_back(piece(data + start, at - start));
            start = at;
        }
    }
    pieces.push_back(piece(data + start, size - start));
    return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    DecodeOutcome::Decoder first;    // loads the tables
    if (!BufrDecoder::tablesLoaded())
        FuzzEnvironment::fail("fuzz_bufr_sequence", "the tables do not load");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<Piece> pieces = messagesOf(data, size);
    DecodeOutcome::Decoder decoder;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const DecodeOutcome inRow =
            DecodeOutcome::of(decoder, pieces[i].data(), pieces[i].size());
        // The first message is decoded by a new decoder already.
        if (i == 0)
            continue;
        DecodeOutcome::Decoder own;
        const std::string difference =
            inRow.differenceFrom(DecodeOutcome::of(own, pieces[i].data(), pieces[i].size()));
        if (!difference.empty())
            FuzzEnvironment::fail("fuzz_bufr_sequence", "message " + std::to_string(i + 1) +
                                                            " after the others: " + difference);
    }
    return 0;
}
