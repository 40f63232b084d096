// Bulletins stored again by the decoder process: after SIGKILLs aimed into
// the storing of a cloud-drift wind bulletin, and after a full disk under
// the profiler stores with the bulletins requeued once space is back, and
// a wind bulletin delivered again under another name.  Each ends with the
// records of one clean run (in any order), none twice and none of fill
// values only.
#include "DecoderInstallation.h"
#include "DecoderProcess.h"
#include "HighDensityWindSamples.h"
#include "ProfilerSamples.h"
#include "StoredRecords.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// A decoder process of the installation.
struct Decoder : DecoderProcess {
    Decoder(DecoderInstallation& i, const std::string& type, const std::string& log)
        : DecoderProcess(i.peer, type, i.tree.path(log))
    {
    }
};

// The records of a clean run storing the bulletins in one process, and
// the size its files reach.
std::multiset<std::string> cleanRecords(const std::string& type, const std::string& ingest,
                                        const std::string& bad,
                                        const std::vector<SampleBulletin>& bulletins,
                                        const std::vector<std::string>& pointDirs,
                                        uintmax_t* size = nullptr)
{
    DecoderInstallation p(type, ingest, bad);
    for (const SampleBulletin& b : bulletins)
        p.drop(b);
    Decoder run(p, type, "clean.log");
    EXPECT_TRUE(run.ready(120000)) << run.child.log();
    EXPECT_EQ(run.stop(), 0);
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    std::multiset<std::string> all;
    for (const std::string& dir : pointDirs) {
        for (const std::string& row : storedRecords(p, dir))
            all.insert(row);
        for (const std::string& file : p.dataFiles(dir))
            if (size)
                *size += fs::file_size(file);
    }
    return all;
}

// Whether the pass journal's last line ends a pass.
bool passEnded(const std::string& journal)
{
    std::ifstream in(journal, std::ios::binary);
    char tail[2] = {};
    return in.seekg(-2, std::ios::end) && in.read(tail, 2) && tail[0] == 'E' && tail[1] == '\n';
}

} // namespace

// SIGKILL once the data file has grown a random part of the way to what the
// bulletin makes of it (from what a killed process left), twice, then once
// the pass over the bulletin has ended, before its file is removed (when the
// kill comes in time); a last process finishes.  The seed is in the failure
// message.
TEST(RepeatedStores, CloudDriftWindsKilledWhileStoredEndAsOneCleanRun)
{
    QEV_REQUIRE_NCGEN();
    const std::vector<SampleBulletin> winds = sampleBulletins(HighDensityWindSamples::make);
    uintmax_t full = 0;
    const std::multiset<std::string> clean =
        cleanRecords("csw", "bufr/CSW", "badCSWBufr", winds, {"CSW/netcdf"}, &full);
    ASSERT_EQ(clean.size(), size_t(HighDensityWindSamples::WINDS));

    DecoderInstallation p("csw", "bufr/CSW", "badCSWBufr");
    p.drop(winds[0]);
    const std::string file = p.tree.path("qev_data/point/CSW/netcdf/20240601_1200");
    const std::string journal = p.tree.path("qev_data/point/CSW/netcdf/passJournal");
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    int killed = 0;
    for (int round = 0; round < 3 && !TempTree::listFiles(p.in).empty(); ++round) {
        Decoder run(p, "csw", "kill" + std::to_string(round) + ".log");
        const auto size = [&] { return fs::exists(file) ? fs::file_size(file) : 0; };
        const uintmax_t from = size(), target = from + (full - from) * (5 + random() % 90) / 100;
        const auto due = [&] { return round == 2 ? passEnded(journal) : size() >= target; };
        for (int wait = 0; wait < 300000 && !due() && !TempTree::listFiles(p.in).empty(); ++wait)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        run.child.signal(SIGKILL);
        run.child.waitExit(10000);
        killed += !TempTree::listFiles(p.in).empty();
    }
    Decoder last(p, "csw", "last.log");
    ASSERT_TRUE(last.ready(120000)) << last.child.log();
    EXPECT_EQ(last.stop(), 0);
    EXPECT_GT(killed, 0) << "no kill fell inside the store";
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    EXPECT_TRUE(TempTree::listFiles(p.bad).empty());
    EXPECT_EQ(storedRecords(p, "CSW/netcdf"), clean);
}

// The same bulletin delivered again under another name (as a requeued
// set-aside file is, with its ".1" suffix) adds no record.
TEST(RepeatedStores, CloudDriftWindsDeliveredAgainUnderAnotherNameAddNothing)
{
    QEV_REQUIRE_NCGEN();
    const std::vector<SampleBulletin> winds = sampleBulletins(HighDensityWindSamples::make);
    const std::multiset<std::string> clean =
        cleanRecords("csw", "bufr/CSW", "badCSWBufr", {winds[0]}, {"CSW/netcdf"});
    ASSERT_FALSE(clean.empty());

    DecoderInstallation p("csw", "bufr/CSW", "badCSWBufr");
    p.drop(winds[0]);
    Decoder run(p, "csw", "again.log");
    ASSERT_TRUE(run.ready(120000)) << run.child.log();
    p.drop(winds[0], winds[0].name + ".1");
    ASSERT_TRUE(run.announce()) << run.child.log();
    EXPECT_EQ(run.stop(), 0);
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    EXPECT_TRUE(TempTree::listFiles(p.bad).empty()) << run.child.log();
    EXPECT_EQ(storedRecords(p, "CSW/netcdf"), clean);
}

// A file size limit on the process (the process ignores SIGXFSZ) that lets each data
// file take a few records and breaks the next one at several places: the
// bulletins that could not be stored whole are set aside with their reason.
// With the limit lifted and the bulletins requeued, the same process stores
// them, and the files hold exactly the records of a clean run.
TEST(RepeatedStores, ProfilersOnAFullDiskEndAsOneCleanRunOnceRequeued)
{
    QEV_REQUIRE_NCGEN();
    const std::vector<SampleBulletin> bulletins = sampleBulletins(ProfilerSamples::make);
    const std::vector<std::string> dirs = {"prof/netcdf", "CAP/netcdf"};
    const std::multiset<std::string> clean =
        cleanRecords("Profiler", "bufr/prof", "badProfiler", bulletins, dirs);
    ASSERT_EQ(clean.size(), 22u);

    for (double fit : {0.4, 1.5, 3.7}) {
        SCOPED_TRACE(std::to_string(fit) + " records fit");
        DecoderInstallation p("Profiler", "bufr/prof", "badProfiler");
        const auto templateSize = fs::file_size(p.tree.path("qev_data/point/prof/netcdf/template"));
        Decoder run(p, "Profiler", "full.log");
        ASSERT_TRUE(run.ready()) << run.child.log();
        // The record size of the layout: the data file of a first bulletin
        // stored without a limit, less the template.
        static long long layoutRecord = 0;
        if (layoutRecord == 0) {
            DecoderInstallation probe("Profiler", "bufr/prof", "badProfiler");
            probe.drop(bulletins[0]);
            Decoder sizing(probe, "Profiler", "size.log");
            ASSERT_TRUE(sizing.ready());
            sizing.stop();
            const std::vector<std::string> files = probe.dataFiles("prof/netcdf");
            ASSERT_FALSE(files.empty());
            for (const std::string& f : files)
                layoutRecord = (static_cast<long long>(fs::file_size(f)) -
                                static_cast<long long>(templateSize)) / 6;
        }
        const rlim_t limit = templateSize + static_cast<rlim_t>(fit * layoutRecord);
        run.limitFileSize(limit);
        for (const SampleBulletin& b : bulletins)
            p.drop(b);
        ASSERT_TRUE(run.announce()) << run.child.log();
        const std::vector<std::string> setAside = TempTree::listFiles(p.bad);
        EXPECT_FALSE(setAside.empty()) << run.child.log();
        EXPECT_TRUE(TempTree::listFiles(p.in).empty());

        run.limitFileSize(RLIM_INFINITY);
        for (const std::string& name : setAside)
            fs::rename(p.bad + "/" + name, p.in + "/" + name);
        ASSERT_TRUE(run.announce()) << run.child.log();
        EXPECT_EQ(run.stop(), 0);
        EXPECT_TRUE(TempTree::listFiles(p.in).empty());
        EXPECT_TRUE(TempTree::listFiles(p.bad).empty()) << run.child.log();
        std::multiset<std::string> stored;
        for (const std::string& dir : dirs)
            for (const std::string& row : storedRecords(p, dir))
                stored.insert(row);
        EXPECT_EQ(stored, clean) << run.child.log();
    }
}
