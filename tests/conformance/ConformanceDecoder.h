// The project's decoder as the conformance tests run it: one PlainBufrDecoder
// for the whole test process, made over the project's tables (linked into
// $QEV_HOME/data of a TempTree that lives as long as the process), and a
// decode call that keeps the PROBLEM lines it logged as its reasons.
#ifndef CONFORMANCEDECODER_H
#define CONFORMANCEDECODER_H

#include "BufrValues.h"
#include "PlainBufrDecoder.h"
#include "SeqOf.h"
#include "TempTree.h"

#include <memory>
#include <string>
#include <vector>

class ConformanceDecoder {
public:
    struct Decoding {
        bool ok = false;
        SeqOf<BufrValues> values;
        int subsets = 0;
        bool compressed = false;
        std::vector<std::string> problems;    // the PROBLEM lines, without prefix
        // The first problem, or a note that none was logged.
        std::string reason() const;
    };

    static ConformanceDecoder& instance();

    bool tablesLoaded() const { return BufrDecoder::tablesLoaded(); }
    const TempTree& tree() const { return *_tree; }
    // Decodes a whole file's bytes, as the data-type decoders do.
    Decoding decode(const std::string& bytes);

    // The corpus folder, or empty when it is not there.
    static std::string corpusDir();

private:
    ConformanceDecoder();

    std::unique_ptr<TempTree> _tree;
    std::unique_ptr<PlainBufrDecoder> _decoder;
};

#endif
