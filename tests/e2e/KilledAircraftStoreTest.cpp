// Aircraft reports stored again after the aircraft store was stopped between
// placing a record (its tail number and time committed) and bringing its
// values to the disk: by SIGKILLs aimed into the store, and by the state
// such a kill or a power loss leaves, made by hand.  Each ends with the
// records of one clean run, none twice and none holding only its key.
#include "AcarsSamples.h"
#include "DecoderInstallation.h"
#include "DecoderProcess.h"
#include "StoredRecords.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>

namespace fs = std::filesystem;

namespace {

const char* const HOUR_FILE = "qev_data/point/acars/netcdf/20240601_1200";

struct Acars : DecoderInstallation {
    Acars() : DecoderInstallation("acars", "bufr/acars", "badAcarsBufr") {}
    // A process that stores what waits in the ingest directory, then stops.
    void run(const std::string& log)
    {
        DecoderProcess d(peer, "acars", tree.path(log));
        EXPECT_TRUE(d.ready()) << d.child.log();
        EXPECT_EQ(d.stop(), 0);
    }
};

// The records of a clean run of the bulletins, and the size of its file.
std::multiset<std::string> cleanRecords(const std::vector<SampleBulletin>& bulletins,
                                        uintmax_t& size)
{
    Acars p;
    for (const SampleBulletin& b : bulletins)
        p.drop(b);
    p.run("clean.log");
    size = fs::file_size(p.tree.path(HOUR_FILE));
    return storedRecords(p, "acars/netcdf");
}

// Writes the fill values over the record's variables but those the store
// writes when it places a record (tail number, times, bookkeeping) and the
// kept ones: what a writer stopped before its values reached the disk
// leaves.
void leaveKeyOnly(const std::string& file, size_t record, const std::set<std::string>& kept)
{
    static const std::set<std::string> placed = {"tailNumber", "timeObs", "prevRecord",
                                                 "isOverflow"};
    int ncid = -1, vars = 0, recordDim = -1;
    ASSERT_EQ(nc_open(file.c_str(), NC_WRITE, &ncid), NC_NOERR);
    nc_inq_nvars(ncid, &vars);
    nc_inq_unlimdim(ncid, &recordDim);
    for (int var = 0; var < vars; ++var) {
        char name[NC_MAX_NAME + 1];
        int dims[NC_MAX_VAR_DIMS], rank = 0, noFill = 0;
        nc_inq_var(ncid, var, name, nullptr, &rank, dims, nullptr);
        if (rank == 0 || dims[0] != recordDim || placed.count(name) || kept.count(name))
            continue;
        size_t start[2] = {record, 0}, count[2] = {1, 1};
        if (rank > 1)
            nc_inq_dimlen(ncid, dims[1], &count[1]);
        unsigned char fill[8];
        nc_inq_var_fill(ncid, var, &noFill, fill);
        for (size_t k = 0; k < count[1]; ++k) {
            start[1] = k;
            ASSERT_EQ(nc_put_var1(ncid, var, start, fill), NC_NOERR) << name;
        }
    }
    ASSERT_EQ(nc_close(ncid), NC_NOERR);
}

} // namespace

// SIGKILL once the data file has grown a random part of the way to what the
// bulletins make of it (a record is placed), a few times, then a last
// process finishes: the records of the clean run.  The seed is in the
// failure message.
TEST(KilledAircraftStore, ReportsKilledWhileStoredEndAsOneCleanRun)
{
    QEV_REQUIRE_NCGEN();
    const std::vector<SampleBulletin> bulletins = sampleBulletins(AcarsSamples::make);
    uintmax_t full = 0;
    const std::multiset<std::string> clean = cleanRecords(bulletins, full);
    ASSERT_EQ(clean.size(), size_t(AcarsSamples::BULLETINS * AcarsSamples::REPORTS));

    Acars p;
    for (const SampleBulletin& b : bulletins)
        p.drop(b);
    const std::string file = p.tree.path(HOUR_FILE);
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    int killed = 0;
    for (int round = 0; round < 6 && !TempTree::listFiles(p.in).empty(); ++round) {
        DecoderProcess run(p.peer, "acars", p.tree.path("kill" + std::to_string(round) + ".log"));
        const auto size = [&] { return fs::exists(file) ? fs::file_size(file) : 0; };
        const uintmax_t from = size(), target = from + (full - from) * (5 + random() % 90) / 100;
        for (int wait = 0; wait < 300000 && size() < target && !TempTree::listFiles(p.in).empty();
             ++wait)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        run.child.signal(SIGKILL);
        run.child.waitExit(10000);
        killed += !TempTree::listFiles(p.in).empty();
    }
    p.run("last.log");
    EXPECT_GT(killed, 0) << "no kill fell inside the store";
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    EXPECT_TRUE(TempTree::listFiles(p.bad).empty());
    EXPECT_EQ(storedRecords(p, "acars/netcdf"), clean);
}

// A record left with a part of its position, or with its height, bulletin
// time and flight number but no latitude: the bulletin delivered again
// takes it over instead of adding a record beside it.
TEST(KilledAircraftStore, ARecordLeftWithItsKeyIsTakenOverByItsReport)
{
    QEV_REQUIRE_NCGEN();
    const std::vector<SampleBulletin> bulletins = sampleBulletins(AcarsSamples::make);
    uintmax_t full = 0;
    const std::multiset<std::string> clean = cleanRecords({bulletins[0]}, full);
    const std::set<std::string> kept[] = {
        {"latitude"}, {"flightLevel", "longitude", "timeMdcrsHdr", "flightNumber"}};
    for (const std::set<std::string>& k : kept) {
        SCOPED_TRACE(std::to_string(k.size()) + " kept");
        Acars p;
        p.drop(bulletins[0]);
        p.run("first.log");
        leaveKeyOnly(p.tree.path(HOUR_FILE), 5, k);
        ASSERT_NE(storedRecords(p, "acars/netcdf"), clean);
        p.drop(bulletins[0]);
        p.run("again.log");
        EXPECT_TRUE(TempTree::listFiles(p.bad).empty());
        EXPECT_EQ(storedRecords(p, "acars/netcdf"), clean);
    }
}

// An aircraft's chain of records as a power loss may leave it, the file
// written back without the page of a record's prevRecord or with a stale
// one: the newest record of an aircraft naming no record before it (cut),
// or an older record of another aircraft (crossed).  The store mends the
// file with one line when it reads it, and the bulletins delivered again
// add nothing and overwrite nothing.
TEST(KilledAircraftStore, ACutOrCrossedAircraftChainIsMendedAndNothingStoredTwice)
{
    QEV_REQUIRE_NCGEN();
    const std::vector<SampleBulletin> bulletins = sampleBulletins(AcarsSamples::make);
    uintmax_t full = 0;
    const std::multiset<std::string> clean = cleanRecords(bulletins, full);
    // The last bulletin's records are the newest of their aircraft, one
    // each: the second of them is given no link, or the first one's link
    // (to that aircraft's record before).
    const int newest = 2 * AcarsSamples::REPORTS, other = newest + 1;
    for (bool crossed : {false, true}) {
        SCOPED_TRACE(crossed ? "crossed" : "cut");
        Acars p;
        for (const SampleBulletin& b : bulletins)
            p.drop(b);
        p.run("first.log");
        const std::string file = p.tree.path(HOUR_FILE);
        int ncid = -1, var = -1, link = -1;
        ASSERT_EQ(nc_open(file.c_str(), NC_WRITE, &ncid), NC_NOERR);
        ASSERT_EQ(nc_inq_varid(ncid, "prevRecord", &var), NC_NOERR);
        const size_t first[] = {size_t(newest)}, second[] = {size_t(other)};
        if (crossed) {
            ASSERT_EQ(nc_get_var1_int(ncid, var, first, &link), NC_NOERR);
        }
        ASSERT_EQ(nc_put_var1_int(ncid, var, second, &link), NC_NOERR);
        ASSERT_EQ(nc_close(ncid), NC_NOERR);

        for (const SampleBulletin& b : bulletins)
            p.drop(b);
        DecoderProcess again(p.peer, "acars", p.tree.path("again.log"));
        ASSERT_TRUE(again.ready()) << again.child.log();
        EXPECT_EQ(again.stop(), 0);
        const std::string log = again.child.log();
        const std::string mend = "PROBLEM: The station table of " + file + " was left half written (";
        EXPECT_NE(log.find(mend), std::string::npos) << log;
        EXPECT_EQ(log.find(mend), log.rfind(mend)) << log;
        EXPECT_TRUE(TempTree::listFiles(p.in).empty());
        EXPECT_TRUE(TempTree::listFiles(p.bad).empty());
        EXPECT_EQ(storedRecords(p, "acars/netcdf"), clean);
    }
}
