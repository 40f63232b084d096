// Decoding speed over the shared BUFR corpus: the project's decoder against
// ecCodes' C API and wreport on the same messages, in memory.
//
// For every corpus file whose first message the project and ecCodes decode,
// one benchmark decodes that message with each decoder per iteration, each
// decoder a batch of decodes in a row (ecCodes: codes_handle_new_from_message,
// then "skipExtraKeyAttributes" and "unpack"; wreport: BufrBulletin::decode),
// and "all" decodes every such message.  A message wreport cannot decode is left out of its figures.
// Counters:
//   values            values the project's decoder lists per pass
//   project_mps       messages per second, project's decoder
//   project_vps       values per second, project's decoder
//   eccodes_mps/_vps  the same for ecCodes
//   wreport_mps/_vps  the same for wreport (over the messages it decodes)
//   ratio             project over ecCodes (above 1: the project is faster)
//   ratio_wreport     project over wreport, on the messages wreport decodes
// Every rate counts the project's values, so a ratio is the inverse ratio
// of the two decoding times.  The project's log is cut down to PROBLEM
// lines while measuring, so the figures are of decoding, not of logging.
//
// The corpus is the folder $QEV_BENCH_CORPUS names (the shared corpus
// when unset), for instance the large messages tile_compressed makes.  The
// tables come from $QEV_HOME/data/ (the source tree when unset); the log
// goes to a scratch folder unless LOG_DIR is set.
#include "PlainBufrDecoder.h"
#include "findBufrMessages.h"

#include "LogStream.h"

#include <benchmark/benchmark.h>

#ifdef QEV_HAVE_ECCODES
#include <eccodes.h>
#endif
#ifdef QEV_HAVE_WREPORT
#include <wreport/bulletin.h>
#include <wreport/error.h>
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
    std::string bytes;        // the first message of the file
    int values = 0;           // what the project's decoder lists for it
    bool wreport = false;     // wreport decodes it
    int batch = 1;            // decodes in a row per decoder and pass
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
    // At its fastest, as its users who care for speed run it: the values
    // without the attributes of every key (units, widths, references).
    bool ok = codes_set_long(h, "skipExtraKeyAttributes", 1) == CODES_SUCCESS &&
              codes_set_long(h, "unpack", 1) == CODES_SUCCESS;
    codes_handle_delete(h);
    return ok;
#else
    (void)m;
    return false;
#endif
}

bool wreportDecode(const Message& m)
{
#ifdef QEV_HAVE_WREPORT
    try {
        std::unique_ptr<wreport::BufrBulletin> b = wreport::BufrBulletin::decode(m.bytes);
        benchmark::DoNotOptimize(b->subsets.size());
        return true;
    } catch (const std::exception&) {
        return false;
    }
#else
    (void)m;
    return false;
#endif
}

// Each decoder decodes a message `batch` times in a row (about a
// millisecond of the project's work) after one decode that is not timed, so
// that every one of them is timed with its own data and code in the caches,
// not just after another decoder's.  The time of one decode.
double timeBatch(bool (*decode)(const Message&), const Message& m, bool& ok)
{
    ok = decode(m);
    Clock::time_point t0 = Clock::now();
    for (int i = 0; ok && i < m.batch; ++i)
        ok = decode(m);
    return std::chrono::duration<double>(Clock::now() - t0).count() / m.batch;
}

void decodeAll(benchmark::State& state, std::vector<Message> messages)
{
    // The time of one decode of every message, summed over the passes;
    // for the project also over the messages wreport decodes.
    double project = 0, projectW = 0, ecCodes = 0, wreport = 0;
    double count = 0, values = 0, countW = 0, valuesW = 0;
    for (const Message& m : messages) {
        count += 1;
        values += m.values;
        if (m.wreport) {
            countW += 1;
            valuesW += m.values;
        }
    }
    for (auto _ : state) {
        for (const Message& m : messages) {
            bool ok = true;
            const double p = timeBatch(projectDecode, m, ok);
            if (!ok) {
                state.SkipWithError(("the project's decoder failed on " + m.file).c_str());
                return;
            }
            ecCodes += timeBatch(ecCodesDecode, m, ok);
            if (!ok) {
                state.SkipWithError(("ecCodes failed on " + m.file).c_str());
                return;
            }
            project += p;
            if (m.wreport) {
                wreport += timeBatch(wreportDecode, m, ok);
                projectW += p;
            }
        }
    }
    const double passes = static_cast<double>(state.iterations());
    auto rate = [passes](double per, double time) { return time > 0 ? per * passes / time : 0; };
    state.counters["values"] = values;
    state.counters["project_mps"] = rate(count, project);
    state.counters["project_vps"] = rate(values, project);
    state.counters["eccodes_mps"] = rate(count, ecCodes);
    state.counters["eccodes_vps"] = rate(values, ecCodes);
    state.counters["ratio"] = project > 0 && ecCodes > 0 ? ecCodes / project : 0;
    if (countW > 0) {
        state.counters["wreport_mps"] = rate(countW, wreport);
        state.counters["wreport_vps"] = rate(valuesW, wreport);
        state.counters["ratio_wreport"] = projectW > 0 && wreport > 0 ? wreport / projectW : 0;
    }
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
        m.wreport = wreportDecode(m);
        // The batch: about a millisecond of the project's decoding.
        Clock::time_point t0 = Clock::now();
        for (int i = 0; i < 10; ++i)
            projectDecode(m);
        const double once = std::chrono::duration<double>(Clock::now() - t0).count() / 10;
        m.batch = std::max(1, static_cast<int>(1e-3 / std::max(once, 1e-9)));
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
    const char* corpusVar = std::getenv("QEV_BENCH_CORPUS");
    const std::string corpus = corpusVar && *corpusVar ? std::string(corpusVar)
                                                       : std::string(QEV_SHARED_DIR) + "/corpus/bufr";
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
#ifndef QEV_HAVE_WREPORT
    std::fprintf(stderr, "bench_decode_corpus: built without wreport; no ratio_wreport\n");
#endif
    for (const Message& m : messages)
        if (!m.wreport)
            std::fprintf(stderr, "bench_decode_corpus: wreport does not decode %s\n",
                         m.file.c_str());
    if (messages.empty()) {
        std::fprintf(stderr, "bench_decode_corpus: no corpus message decodes with both "
                             "the project and ecCodes; nothing to measure\n");
    } else {
        for (const Message& m : messages)
            benchmark::RegisterBenchmark(m.file.c_str(), decodeAll, std::vector<Message>{m});
        benchmark::RegisterBenchmark("all", decodeAll, messages);
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    if (!scratch.empty()) {
        std::error_code ec;
        fs::remove_all(scratch, ec);
    }
    return 0;
}
