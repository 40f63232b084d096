// Opening a pass journal: reading and checking the notes of a journal of
// about 10 MB (many bulletins' passes, each noting a record of a data file
// the store holds and one of an hour no longer there) and writing it anew
// within the bounds, as a store does when it is made.
//
//   journal_open/megabytes:N   the journal of N MB; time per open, and the
//                              bytes read per second
#include "PassJournal.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace {

const int HELD_FILE = 1717243200;     // 2024-06-01 12:00, 3,000 records
const int PURGED_FILE = 1717200000;   // 2024-06-01 00:00, gone

std::string journalText(size_t bytes)
{
    std::string notes;
    for (int k = 0; notes.size() < bytes; ++k)
        notes += "P IUCN01 other " + std::to_string(k) + "\nR 0 " + std::to_string(HELD_FILE) +
                 " " + std::to_string(k % 3000) + "\nR 1 " + std::to_string(PURGED_FILE) + " " +
                 std::to_string(k) + "\nE\n";
    return notes;
}

void journalOpen(benchmark::State& state)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("journal_open." + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string text = journalText(static_cast<size_t>(state.range(0)) << 20);
    const std::map<int, int> records = {{HELD_FILE, 3000}};
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream((dir / "passJournal").string(), std::ios::binary) << text;
        state.ResumeTiming();
        PassJournal journal(dir.string());
        std::string message;
        if (journal.open(records, message) != PassJournal::OPENED)
            state.SkipWithError(message.c_str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
    fs::remove_all(dir);
}

} // namespace

BENCHMARK(journalOpen)->Name("journal_open/megabytes")->Arg(10)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
