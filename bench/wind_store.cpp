// Storing speed of the high-density wind bulletin: the sample generator's
// compressed bulletin of HighDensityWindSamples::WINDS winds, from its file
// in the ingest directory to the stored records, inside one process.
//
//   hdw_bulletin/end_to_end   one directory pass of the decoder over the one
//                             file: read, decode, one record per wind (the
//                             position and time placed by the store, the
//                             values written, the handle given back), the
//                             notifications to a local notification server,
//                             the file unlinked
//   hdw_bulletin/decode       the decode of the same bulletin alone
//   hdw_bulletin/placement    the store's part alone: a handle and record
//                             for each wind's position and time, given back
//                             once the next wind has its record
//   hdw_bulletin/committed/0  the same as one pass over the bulletin, as the
//                             decoder makes it (its records noted in the pass
//                             journal), then the commit that brings them to
//                             the disk before the bulletin may go: into a new
//                             data file (the first bulletin of its hour)
//   hdw_bulletin/committed/1  the same into a data file that holds another
//                             bulletin's winds already
//
//   acars_burst/end_to_end    one pass of the ACARS decoder over a burst of
//                             BURST small bulletins (the sample generator's
//                             ACARS bulletins again and again under names of
//                             their own): each read, decoded, its reports
//                             stored, and all unlinked once their records
//                             are on the disk
//
// Counters: bulletins per second (items_per_second), winds per second and
// the time per wind.  What end_to_end spends beyond decode and placement is
// the netCDF writes of the values (and the few file operations of the
// pass).  Every iteration stores into a fresh data tree; the log is cut down
// to PROBLEM lines.
#include "AcarsBufrDecoder.h"
#include "AcarsSamples.h"
#include "DiskCommit.h"
#include "HDWBufrDecoder.h"
#include "HighDensityWindSamples.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "PlainBufrDecoder.h"
#include "StoreClock.h"
#include "WirePeer.h"
#include "ipcInitialise.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string scratchRoot()
{
    static std::string root = [] {
        char tmpl[] = "/tmp/qevwinds.XXXXXX";
        const char* made = mkdtemp(tmpl);
        return std::string(made ? made : "/tmp");
    }();
    return root;
}

const SampleBulletin& bulletin()
{
    static const SampleBulletin b = [] {
        SampleOptions o;
        o.dataDir = QEV_SOURCE_DIR "/data";
        std::vector<SampleBulletin> all;
        std::string error;
        if (!HighDensityWindSamples::make(o, all, error)) {
            std::fprintf(stderr, "bench: %s\n", error.c_str());
            std::exit(1);
        }
        return all[0];
    }();
    return b;
}

// A fresh QEV_DATA with a store's template (the build's template of that
// name) and the ingest and bad-file directories of a decoder.
std::string freshData(const char* type = "CSW", const char* templateName = "highDensityWinds",
                      const char* ingest = "CSW", const char* bad = "badCSWBufr")
{
    static int n = 0;
    const std::string data = scratchRoot() + "/data" + std::to_string(++n);
    const std::string store = data + "/point/" + type + "/netcdf";
    fs::create_directories(store);
    fs::create_directories(data + "/ispan/bufr/" + ingest);
    fs::create_directories(data + "/ispan/" + bad);
    fs::copy_file(std::string(QEV_TEMPLATE_DIR "/") + templateName, store + "/template");
    setenv("QEV_DATA", data.c_str(), 1);
    return data;
}

void counters(benchmark::State& state)
{
    const double winds = HighDensityWindSamples::WINDS;
    state.SetItemsProcessed(state.iterations());
    state.counters["winds_per_second"] =
        benchmark::Counter(winds, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["per_wind"] = benchmark::Counter(
        winds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void endToEnd(benchmark::State& state)
{
    const SampleBulletin& b = bulletin();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string data = freshData();
        HDWBufrDecoder* decoder = new HDWBufrDecoder();
        std::ofstream(data + "/ispan/bufr/CSW/" + b.name, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.bytes.data()),
                   static_cast<std::streamsize>(b.bytes.size()));
        state.ResumeTiming();
        decoder->processBufrDirectory();
        state.PauseTiming();
        if (fs::exists(data + "/ispan/bufr/CSW/" + b.name) ||
            !fs::is_empty(data + "/ispan/badCSWBufr"))
            state.SkipWithError("the bulletin was not stored");
        delete decoder;
        state.ResumeTiming();
    }
    counters(state);
}

void decodeOnly(benchmark::State& state)
{
    const SampleBulletin& b = bulletin();
    PlainBufrDecoder decoder;
    for (auto _ : state) {
        if (!decoder.decode(b.bytes.data(), static_cast<unsigned>(b.bytes.size())))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(decoder.getDecodedValues().length());
    }
    counters(state);
}

// The position and time of each wind of the bulletin.
struct WindPlaces {
    std::vector<LatLonCoord> at;
    std::vector<double> times;
};

const WindPlaces& windPlaces()
{
    static const WindPlaces places = [] {
        WindPlaces p;
        for (const HighDensityWindSamples::Wind& w : HighDensityWindSamples::winds()) {
            p.at.push_back(
                LatLonCoord(static_cast<float>(w.latitude), static_cast<float>(w.longitude)));
            p.times.push_back(1717243200.0 + 60 * w.minute);
        }
        return p;
    }();
    return places;
}

// A record for each wind of the bulletin, as the decoder asks for them: each
// handle given back once the next wind has its record.  False when a wind
// had none.
bool placeWinds(NetcdfPointData* store, const WindPlaces& places)
{
    int* previous = nullptr;
    for (size_t i = 0; i < places.at.size(); ++i) {
        SeqOf<double> t(places.times[i]);
        int record = -1;
        bool isNew = false;
        int* handle = store->getFileHandleAndRecord(places.at[i], t, record, isNew);
        if (previous)
            store->releaseHandle(previous);
        previous = handle;
        if (!handle)
            return false;
    }
    return store->releaseHandle(previous);
}

// The store's part of one bulletin in a fresh data tree: its winds placed
// alone, or in one pass (as the decoder makes it) followed by the commit,
// into a new data file or one that holds another bulletin's winds.
enum WindStoring { PLACED, COMMITTED_NEW_FILE, COMMITTED_FILLED_FILE };

void storeWinds(benchmark::State& state, WindStoring storing)
{
    const WindPlaces& places = windPlaces();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string data = freshData();
        NetcdfPointData* store = new NetcdfPointData((data + "/point/CSW/netcdf").c_str(), true,
                                                     false);
        std::string why;
        if (storing == COMMITTED_FILLED_FILE) {
            store->beginPass("IUCN01 KNES 010000 first");
            placeWinds(store, places);
            store->endPass(true);
            DiskCommit::commit(why);
        }
        state.ResumeTiming();
        if (storing == PLACED) {
            if (!placeWinds(store, places))
                state.SkipWithError("no handle");
        } else {
            store->beginPass("IUCN01 KNES 010000 second");
            const bool placed = placeWinds(store, places);
            store->endPass(placed);
            if (!placed || !DiskCommit::commit(why))
                state.SkipWithError("the bulletin was not stored");
        }
        state.PauseTiming();
        delete store;
        state.ResumeTiming();
    }
    counters(state);
}

void placementOnly(benchmark::State& state)
{
    storeWinds(state, PLACED);
}

// range 1: into a file that holds a bulletin already.
void placementCommitted(benchmark::State& state)
{
    storeWinds(state, state.range(0) == 1 ? COMMITTED_FILLED_FILE : COMMITTED_NEW_FILE);
}

// The bulletins of a burst of small ACARS bulletins.
const int BURST = 200;

const std::vector<SampleBulletin>& acarsBulletins()
{
    static const std::vector<SampleBulletin> all = [] {
        SampleOptions o;
        o.dataDir = QEV_SOURCE_DIR "/data";
        std::vector<SampleBulletin> made;
        std::string error;
        if (!AcarsSamples::make(o, made, error) || made.empty()) {
            std::fprintf(stderr, "bench: %s\n", error.c_str());
            std::exit(1);
        }
        return made;
    }();
    return all;
}

void acarsBurst(benchmark::State& state)
{
    const std::vector<SampleBulletin>& samples = acarsBulletins();
    for (auto _ : state) {
        state.PauseTiming();
        const std::string data = freshData("acars", "acars", "acars", "badAcarsBufr");
        NetcdfPointData::forgetAllStores();
        AcarsBufrDecoder* decoder = new AcarsBufrDecoder();
        for (int i = 0; i < BURST; ++i) {
            const SampleBulletin& b = samples[static_cast<size_t>(i) % samples.size()];
            char name[64];
            std::snprintf(name, sizeof name, "IUAX01_KWBC_%06d", i);
            std::ofstream(data + "/ispan/bufr/acars/" + name, std::ios::binary)
                .write(reinterpret_cast<const char*>(b.bytes.data()),
                       static_cast<std::streamsize>(b.bytes.size()));
        }
        state.ResumeTiming();
        decoder->processBufrDirectory();
        state.PauseTiming();
        if (!fs::is_empty(data + "/ispan/bufr/acars") ||
            !fs::is_empty(data + "/ispan/badAcarsBufr"))
            state.SkipWithError("the burst was not stored");
        delete decoder;
        fs::remove_all(data);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * BURST);
}

} // namespace

BENCHMARK(acarsBurst)->Name("acars_burst/end_to_end")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(endToEnd)->Name("hdw_bulletin/end_to_end")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(decodeOnly)->Name("hdw_bulletin/decode")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(placementOnly)
    ->Name("hdw_bulletin/placement")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(placementCommitted)
    ->Name("hdw_bulletin/committed")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv)
{
    // The installation: the project's run-time data and a configuration that
    // names the local notification server.
    const std::string home = scratchRoot() + "/home";
    fs::create_directories(home + "/data");
    for (const fs::directory_entry& e : fs::directory_iterator(QEV_SOURCE_DIR "/data"))
        if (e.is_regular_file())
            fs::create_symlink(e.path(), home + "/data/" + e.path().filename().string());
    WirePeer server;
    std::ofstream(home + "/data/qev.config")
        << WirePeer::namedTargetsConfig({server.namedTargetEntry("NOTIFICATION_SERVER")});
    setenv("QEV_HOME", home.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    if (!std::getenv("LOG_DIR")) {
        fs::create_directories(scratchRoot() + "/log");
        setenv("LOG_DIR", (scratchRoot() + "/log").c_str(), 1);
    }
    ipcInitialise();
    StoreClock::set(nullptr, [](int) {});
    BufrFileDecoder::setSleeper([](unsigned long) { return 0; });
    LogStream::setFilter("all", LogStream::TTY, 0xFFFFFFFFu, false);
    LogStream::setFilter("all", LogStream::TTY, LogStream::PROBLEM, true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server.waitForCount(2, 10, 1, 2000);
    std::printf("notifications received: %zu\n", server.count(2, 10));
    fs::remove_all(scratchRoot());
    return 0;
}
