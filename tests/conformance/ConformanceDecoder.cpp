#include "ConformanceDecoder.h"

#include "LogCapture.h"
#include "StaticBufrInfo.h"

#include <unistd.h>

std::string ConformanceDecoder::Decoding::reason() const
{
    return problems.empty() ? std::string("no PROBLEM line logged") : problems.front();
}

ConformanceDecoder& ConformanceDecoder::instance()
{
    static ConformanceDecoder decoder;
    return decoder;
}

ConformanceDecoder::ConformanceDecoder() : _tree(new TempTree())
{
    for (const char* table : StaticBufrInfo::tableFiles) {
        std::string from = std::string(QEV_SOURCE_DIR) + "/data/" + table;
        std::string to = _tree->qevHome() + "/data/" + table;
        if (symlink(from.c_str(), to.c_str()) != 0)
            break;    // the load fails and says so; tablesLoaded() tells the tests
    }
    LogCapture quiet;
    _decoder.reset(new PlainBufrDecoder());
}

ConformanceDecoder::Decoding ConformanceDecoder::decode(const std::string& bytes)
{
    Decoding d;
    {
        LogCapture log;
        d.ok = _decoder->decode(bytes.data(), static_cast<unsigned>(bytes.size()));
        for (const std::string& line : log.lines())
            if (line.compare(0, 9, "PROBLEM: ") == 0)
                d.problems.push_back(line.substr(9));
        if (d.ok)
            d.values = _decoder->getDecodedValues();
    }
    d.subsets = _decoder->subsets();
    d.compressed = _decoder->compressed();
    return d;
}

std::string ConformanceDecoder::corpusDir()
{
    std::string dir = std::string(QEV_SHARED_DIR) + "/corpus/bufr";
    return TempTree::exists(dir + "/MANIFEST.md") ? dir : std::string();
}
