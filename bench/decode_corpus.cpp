// Decoding speed over the shared BUFR corpus: the project's decoder against
// ecCodes' C API on the same messages, in memory.
//
// For every corpus file whose first message the project decodes, one
// benchmark decodes that message with both decoders per iteration (ecCodes:
// codes_handle_new_from_message, then "unpack"), and "all" decodes every
// such message.  Counters:
//   values          values the project's decoder lists per pass
//   project_vps     values per second, project's decoder
//   eccodes_vps     the same values per second, ecCodes
//   ratio           project_vps / eccodes_vps (above 1: the project is faster)
// Both rates count the project's values, so the ratio is the inverse ratio
// of the two decoding times.  The project's log is cut down to PROBLEM
// lines while measuring, so the figures are of decoding, not of logging.
//
// The tables come from $QEV_HOME/data/ (the source tree when unset); the
// log goes to a scratch folder unless LOG_DIR is set.
#include "PlainBufrDecoder.h"
#include "findBufrMessages.h"

#include "LogStream.h"

#include <benchmark/benchmark.h>

#ifdef QEV_HAVE_ECCODES
#include <eccodes.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
typedef std::chrono::steady_clock Clock;

struct Message {
    std::string file;
    std::string bytes;     // the first message of the file
    int values = 0;        // what the project's decoder lists for it
};

PlainBufrDecoder& decoder()
{
    static PlainBufrDecoder d;
    return d;
}

bool projectDecode(const Message& m)
{
    bool ok = decoder().decode(m.bytes.data(), static_cast<unsigned>(m.bytes.size()));
    if (ok)
        benchmark::DoNotOptimize(decoder().getDecodedValues().length());
    return ok;
}

bool ecCodesDecode(const Message& m)
{
#ifdef QEV_HAVE_ECCODES
    codes_handle* h = codes_handle_new_from_message(nullptr, m.bytes.data(), m.bytes.size());
    if (!h)
        return false;
    bool ok = codes_set_long(h, "unpack", 1) == CODES_SUCCESS;
    codes_handle_delete(h);
    return ok;
#else
    (void)m;
    return false;
#endif
}

void decodeBoth(benchmark::State& state, std::vector<Message> messages)
{
    double project = 0, ecCodes = 0;
    long values = 0;
    for (const Message& m : messages)
        values += m.values;
    for (auto _ : state) {
        for (const Message& m : messages) {
            Clock::time_point t0 = Clock::now();
            if (!projectDecode(m)) {
                state.SkipWithError(("the project's decoder failed on " + m.file).c_str());
                return;
            }
            Clock::time_point t1 = Clock::now();
            if (!ecCodesDecode(m)) {
                state.SkipWithError(("ecCodes failed on " + m.file).c_str());
                return;
            }
            Clock::time_point t2 = Clock::now();
            project += std::chrono::duration<double>(t1 - t0).count();
            ecCodes += std::chrono::duration<double>(t2 - t1).count();
        }
    }
    double passes = static_cast<double>(state.iterations());
    state.counters["values"] = static_cast<double>(values);
    state.counters["project_vps"] = project > 0 ? values * passes / project : 0;
    state.counters["eccodes_vps"] = ecCodes > 0 ? values * passes / ecCodes : 0;
    state.counters["ratio"] = project > 0 && ecCodes > 0 ? ecCodes / project : 0;
}

std::vector<Message> decodableMessages(const std::string& corpus)
{
    std::vector<Message> out;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(corpus, ec))
        if (e.is_regular_file() && e.path().filename() != "MANIFEST.md")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& p : files) {
        std::ifstream in(p, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<BufrMessageSpan> spans = findBufrMessages(
            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        if (spans.empty())
            continue;
        Message m;
        m.file = p.filename().string();
        m.bytes = bytes.substr(spans[0].offset, spans[0].length);
        if (!projectDecode(m) || !ecCodesDecode(m))
            continue;
        m.values = decoder().getDecodedValues().length();
        if (m.values > 0)
            out.push_back(m);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QEV_HOME"))
        setenv("QEV_HOME", QEV_SOURCE_DIR, 1);
    std::string scratch;
    if (!std::getenv("LOG_DIR")) {
        char tmpl[] = "/tmp/bench_decode_corpus.XXXXXX";
        if (mkdtemp(tmpl)) {
            scratch = tmpl;
            setenv("LOG_DIR", tmpl, 1);
        }
    }
    for (int sink = LogStream::TTY; sink <= LogStream::COLLECTIVE; ++sink)
        LogStream::setFilter("all", sink, LogStream::EVENT | LogStream::DEBUG | LogStream::VERBOSE,
                             false);

    benchmark::Initialize(&argc, argv);
    std::string corpus = std::string(QEV_SHARED_DIR) + "/corpus/bufr";
    std::vector<Message> messages;
    decoder();    // the first decoder loads the tables
    if (!BufrDecoder::tablesLoaded())
        std::fprintf(stderr,
                     "bench_decode_corpus: the tables under $QEV_HOME/data/ did not load\n");
    else if (!fs::is_directory(corpus))
        std::fprintf(stderr, "bench_decode_corpus: no corpus at %s\n", corpus.c_str());
    else
        messages = decodableMessages(corpus);
#ifndef QEV_HAVE_ECCODES
    std::fprintf(stderr, "bench_decode_corpus: built without ecCodes; nothing to compare\n");
#endif
    if (messages.empty()) {
        std::fprintf(stderr, "bench_decode_corpus: no corpus message decodes with both "
                             "decoders; nothing to measure\n");
    } else {
        for (const Message& m : messages)
            benchmark::RegisterBenchmark(m.file.c_str(), decodeBoth, std::vector<Message>{m});
        benchmark::RegisterBenchmark("all", decodeBoth, messages);
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    if (!scratch.empty()) {
        std::error_code ec;
        fs::remove_all(scratch, ec);
    }
    return 0;
}
