// Bulletins that change under the running decoder, a stop in the middle of
// a large file and a name made to forge log lines, with the ACARS decoder
// and the sample generator's aircraft reports (24 reports of an hour in
// three messages).  A large file is those messages again and again.
#include "AcarsSamples.h"
#include "DecoderInstallation.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const int REPEATS = 200;   // a large file: 600 messages

// The sample reports of an hour of 2024-06-01 as one file of three
// messages, repeated.
std::string reports(int hour, int repeats = 1)
{
    SampleOptions o;
    o.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    o.hour = hour;
    std::vector<SampleBulletin> made;
    std::string error;
    EXPECT_TRUE(AcarsSamples::make(o, made, error)) << error;
    std::string once;
    for (const SampleBulletin& b : made)
        once.append(b.bytes.begin(), b.bytes.end());
    std::string all;
    for (int i = 0; i < repeats; ++i)
        all += once;
    return all;
}

struct AcarsRun : DecoderInstallation {
    AcarsRun() : DecoderInstallation("acars", "bufr/acars", "badAcarsBufr") {}

    // The decoder started again, its first pass going on meanwhile.
    void restart()
    {
        child.reset(new DecoderChild(std::string(QEV_BIN_DIR) + "/decoder",
                                     {peer.targetText(), "3", "acars"},
                                     tree.path("restart.log")));
    }
    // A data message whose pass goes on while the test acts.
    void announceOnly() { ASSERT_TRUE(peer.sendData(connection, 1, std::string(40, 'x'))); }
    // The ingest directory is empty, within seconds.
    bool drained(int seconds = 60)
    {
        for (int i = 0; i < seconds * 10; ++i) {
            if (TempTree::listFiles(in).empty())
                return true;
            usleep(100000);
        }
        return false;
    }
    // The records of the data file of an hour of 2024-06-01.
    long records(int hour) const
    {
        char name[32];
        std::snprintf(name, sizeof name, "20240601_%02d00", hour);
        const std::string path = tree.path("qev_data/point/acars/netcdf/") + name;
        return access(path.c_str(), F_OK) == 0 ? readWhole(path) : 0;
    }
};

} // namespace

// A large bulletin renamed over, and one written anew in place, while its
// messages are stored: its reports are stored, and the new bulletin at its
// name is left for the next pass (one line), which stores it.
TEST(ChangingFiles, ABulletinReplacedWhileItIsStoredIsStoredAfterTheNextPass)
{
    QEV_REQUIRE_NCGEN();
    AcarsRun run;
    run.start();
    const std::string big = reports(12, REPEATS);
    for (int hour : {13, 14}) {
        SCOPED_TRACE(hour);
        const std::string name = "IUAX01_KWBC_" + std::to_string(hour);
        const std::string path = run.in + "/" + name;
        run.tree.write("qev_data/ispan/bufr/acars/" + name, big);
        run.announceOnly();
        ASSERT_TRUE(run.child->waitForLog(name + ": message 20 of the file", 60000))
            << run.child->log();
        if (hour == 13) {
            run.tree.write("qev_data/ispan/bufr/acars/new", reports(hour));
            ASSERT_EQ(rename((run.in + "/new").c_str(), path.c_str()), 0);
        } else {
            run.tree.write("qev_data/ispan/bufr/acars/" + name, reports(hour));
        }
        ASSERT_TRUE(run.drained()) << run.child->log();
        const std::string log = run.child->log();
        EXPECT_NE(log.find("PROBLEM: File " + path + " was " +
                           (hour == 13 ? "replaced by another file" : "written") +
                           " while it was handled; it is left for the next pass"),
                  std::string::npos)
            << log;
        EXPECT_EQ(run.records(12), 24);
        EXPECT_EQ(run.records(hour), 24);
    }
    EXPECT_TRUE(TempTree::listFiles(run.bad).empty());
}

// A bulletin stored whole and waiting for the commit of its records while
// the large one after it is stored, changed in place meanwhile: rewritten
// with other reports of the same size and its modification time set back,
// or only its mode changed.  Either is left for the next pass (one line),
// which stores what it holds then: the new reports, or the same ones again
// without adding any.
TEST(ChangingFiles, ABulletinChangedWhileItWaitsForTheCommitIsStoredAfterTheNextPass)
{
    QEV_REQUIRE_NCGEN();
    for (bool rewritten : {true, false}) {
        SCOPED_TRACE(rewritten ? "rewritten, its time set back" : "its mode changed");
        AcarsRun run;
        run.start();
        // The listing takes the names in the directory's order.
        for (const char* name : {"IUAX01_KWBC_a", "IUAX01_KWBC_b"})
            run.tree.write(std::string("qev_data/ispan/bufr/acars/") + name, "");
        std::vector<std::string> order;
        for (const auto& entry : std::filesystem::directory_iterator(run.in))
            order.push_back(entry.path().string());
        ASSERT_EQ(order.size(), 2u);
        const std::string waiting = order[0], big = order[1];
        std::ofstream(waiting, std::ios::binary) << reports(13);
        std::ofstream(big, std::ios::binary) << reports(12, REPEATS);
        run.announceOnly();
        ASSERT_TRUE(run.child->waitForLog(std::filesystem::path(big).filename().string() +
                                              ": message 20 of the file",
                                          60000))
            << run.child->log();
        if (rewritten) {
            struct stat was;
            ASSERT_EQ(stat(waiting.c_str(), &was), 0);
            const std::string other = reports(14);
            ASSERT_EQ(other.size(), size_t(was.st_size));
            std::ofstream(waiting, std::ios::binary) << other;
            const struct timespec times[2] = {was.st_atim, was.st_mtim};
            ASSERT_EQ(utimensat(AT_FDCWD, waiting.c_str(), times, 0), 0);
        } else {
            ASSERT_EQ(chmod(waiting.c_str(), 0640), 0);
        }
        ASSERT_TRUE(run.drained()) << run.child->log();
        const std::string log = run.child->log();
        const std::string line =
            "PROBLEM: File " + waiting + " was changed while it was handled; it is left for the next pass";
        EXPECT_NE(log.find(line), std::string::npos) << log;
        EXPECT_EQ(log.find(line), log.rfind(line));
        EXPECT_EQ(run.records(12), 24);
        EXPECT_EQ(run.records(13), 24);
        EXPECT_EQ(run.records(14), rewritten ? 24 : 0);
        EXPECT_TRUE(TempTree::listFiles(run.bad).empty());
    }
}

// An empty file its writer fills 2 seconds later is stored, not unlinked.
TEST(ChangingFiles, AnEmptyFileFilledLaterIsStored)
{
    QEV_REQUIRE_NCGEN();
    AcarsRun run;
    run.start();
    run.tree.write("qev_data/ispan/bufr/acars/IUAX01_KWBC_late", "");
    ASSERT_TRUE(run.announce());
    sleep(2);
    run.tree.write("qev_data/ispan/bufr/acars/IUAX01_KWBC_late", reports(15));
    ASSERT_TRUE(run.drained()) << run.child->log();
    EXPECT_EQ(run.records(15), 24) << run.child->log();
    EXPECT_EQ(run.child->log().find("No data in datafile"), std::string::npos);
}

// SIGTERM in the middle of a large file: the process stops between two
// messages, the file stays, and the next start stores it, each report once.
TEST(ChangingFiles, AStopInALargeFileEndsAtOnceAndTheRestartStoresItOnce)
{
    QEV_REQUIRE_NCGEN();
    AcarsRun run;
    run.start();
    run.tree.write("qev_data/ispan/bufr/acars/IUAX01_KWBC_big", reports(12, REPEATS));
    run.announceOnly();
    ASSERT_TRUE(run.child->waitForLog("IUAX01_KWBC_big: message 20 of the file", 60000))
        << run.child->log();
    run.child->signal(SIGTERM);
    EXPECT_EQ(run.child->waitExit(30000), 0) << run.child->log();
    const std::string log = run.child->log();
    EXPECT_NE(log.find("A stop is asked for: " + run.in + "/IUAX01_KWBC_big stays in the ingest "
                       "directory for the next start"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("message " + std::to_string(3 * REPEATS) + " of the file"),
              std::string::npos);
    EXPECT_EQ(TempTree::listFiles(run.in), std::vector<std::string>{"IUAX01_KWBC_big"});

    run.restart();
    ASSERT_TRUE(run.drained()) << run.child->log();
    EXPECT_EQ(run.records(12), 24);
    EXPECT_TRUE(TempTree::listFiles(run.bad).empty());
}

// A file name made of a name and a forged log line is logged on one line,
// its newline escaped.
TEST(ChangingFiles, ANameWithANewlineForgesNoLine)
{
    QEV_REQUIRE_NCGEN();
    AcarsRun run;
    run.start();
    const std::string name = "IUAX02_KWBC_X\nPROBLEM: forged";
    std::ofstream(run.in + "/" + name, std::ios::binary) << reports(16);
    ASSERT_TRUE(run.announce());
    ASSERT_TRUE(run.drained()) << run.child->log();
    const std::string log = run.child->log();
    EXPECT_EQ(log.find("\nPROBLEM: forged"), std::string::npos) << log;
    EXPECT_NE(log.find("IUAX02_KWBC_X\\nPROBLEM: forged"), std::string::npos) << log;
    EXPECT_EQ(run.records(16), 24);
}
