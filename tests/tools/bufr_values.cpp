// bufr_values FILE: decodes a BUFR file with the project's decoder (its
// first message, as the data-type decoders do) and prints the decoded
// values, one a line:
//
//     subset descriptor value index text
//
// subset and index as the decoder numbers them (from 0), the descriptor as
// six digits FXXYYY, the value as a float (-99999 missing, 99999 not in
// table B, -99999.9 for a character element), then the element's text, if
// any.  The tables are read from $QEV_HOME/data/.  The decoder's log goes
// to standard error.  Exit status: 0 decoded, 1 not decoded, 2 usage.
#include "../support/PlainBufrDecoder.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bufr_values FILE\n");
        return 2;
    }
    if (!std::getenv("QEV_HOME")) {
        std::fprintf(stderr, "bufr_values: QEV_HOME is not set (the tables are read from "
                             "$QEV_HOME/data/)\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "bufr_values: cannot read %s\n", argv[1]);
        return 2;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    PlainBufrDecoder decoder;
    if (!BufrDecoder::tablesLoaded()) {
        std::fprintf(stderr, "bufr_values: the tables under $QEV_HOME/data/ did not load\n");
        return 1;
    }
    if (!decoder.decode(bytes.data(), static_cast<unsigned>(bytes.size()))) {
        std::fprintf(stderr, "bufr_values: %s not decoded\n", argv[1]);
        return 1;
    }
    const SeqOf<BufrValues>& values = decoder.getDecodedValues();
    for (int i = 0; i < values.length(); ++i) {
        const BufrValues& v = values[i];
        TextString text = v.getCharValue();
        std::printf("%d %06d %.9g %d %s\n", v.getSubset(), v.getDescriptor(),
                    static_cast<double>(v.getValue()), v.getIndex(), text.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
