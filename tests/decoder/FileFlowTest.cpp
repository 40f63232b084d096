// The per-file flow through the fake decoder: each way a file leaves the
// ingest directory, with its log lines, and the listing rules.
#include "BufrSignalClient.h"
#include "BufrWriter.h"
#include "DiskCommit.h"
#include "FakeDecoder.h"
#include "IoFaults.h"
#include "LogCapture.h"
#include "LogStream.h"
#include "TempTree.h"
#include "../pointdata/PointDataTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The process's BUFR tables, from the source tree.
class ProcessTables : public testing::Environment {
    void SetUp() override
    {
        const std::string saved = std::getenv("QEV_HOME");
        setenv("QEV_HOME", QEV_SOURCE_DIR, 1);
        FakeDecoder first;
        setenv("QEV_HOME", saved.c_str(), 1);
        ASSERT_TRUE(BufrDecoder::tablesLoaded());
    }
};
testing::Environment* const tables = testing::AddGlobalTestEnvironment(new ProcessTables);

// JUSA takes the designators 41 to 45; JUSB's expression does not compile,
// so it takes any; JUSX's is empty and matches every designator.
const char* const patterns = "fake bufr patterns 3\nJUSA      ^4[1-5]$\nJUSB      [\nJUSX\n";

int pauses = 0;
int countPause(unsigned long microseconds)
{
    pauses += microseconds == 300000;
    return 0;
}

std::string message()
{
    BufrWriter w;
    const BufrWriter::Bytes m = w.descriptors({12101}).element(12101, 273.15).build();
    return std::string(m.begin(), m.end());
}

// Sets a file's times two minutes back, as one its writer finished long ago.
void makeOld(const std::string& path)
{
    const struct timespec old[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
}

bool present(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

class FileFlow : public testing::Test {
protected:
    void SetUp() override
    {
        pauses = 0;
        BufrFileDecoder::setSleeper(countPause);
        LogStream::setFilter("all", LogStream::TTY, LogStream::DEBUG | LogStream::VERBOSE, true);
        tree.write("qev_home/data/fakeBufrPattern.txt", patterns);
    }
    void TearDown() override
    {
        BufrFileDecoder::setSleeper(nullptr);
        LogStream::resetFilters();
    }
    std::string ingest(const std::string& name) const { return in + name; }

    TempTree tree;
    std::string in = tree.mkdirs("qev_data/ispan/bufr/fake") + "/";
    std::string bad = tree.path("qev_data/ispan/badFake") + "/";
};

struct FlowCase {
    const char* name;
    char content;           // b BUFR, t text, e empty, o empty long ago, l dangling link,
                            // d directory, h 4 GiB
    int writeResult;
    bool designatorVerdict, badDirectory;
    char ends;              // g gone, b in the bad-file directory, i still in the ingest one
    int pauses;
    // Log texts, "@" for the file's path; a leading "!" marks an absent one.
    std::vector<std::string> lines;
};

const FlowCase flowCases[] = {
    {"JUSA41_o", 'o', 1, true, true, 'g', 0,
     {"EVENT: No data in datafile @; it was removed", "@ deleted", "!BUFR Pattern"}},
    // An empty file may be one its writer is about to fill.
    {"JUSA41_e", 'e', 1, true, true, 'i', 0,
     {"PROBLEM: File @ is empty and was written less than a minute ago; it is left for the "
      "next pass",
      "!No data in datafile"}},
    // A name the check refuses is kept with its reason.
    {"ABCD41_p", 'b', 1, true, true, 'b', 1,
     {"VERBOSE: BUFR Pattern [JUSA|JUSB|JUSX]", "DEBUG: filePrefixChk: ABCD",
      "DEBUG: fileDesignatorChk: 41", "PROBLEM: File ABCD41_p is not a fake BUFR file.",
      "PROBLEM: Invalid file name @, renamed to ", "DEBUG: Waiting 0.300 seconds......",
      "!MXR_ENTRY"}},
    {"JUSA49_r", 'b', 1, true, true, 'b', 1,
     {"PROBLEM: Invalid data: WMO region designator <49> not in search tree, data not stored.",
      "PROBLEM: Invalid file name @, renamed to "}},
    {"JUSA41_v", 'b', 1, false, true, 'b', 1, {"Invalid file name @", "!Invalid data", "!MXR_ENTRY"}},
    {"JUSA41_t", 't', 1, true, true, 'b', 0,
     {"PROBLEM: Unable to parse @, renamed to ", "JUSA41_t: Failed to decode Section 0\n",
      "!Waiting"}},
    {"JUSA41_1", 'b', 1, true, true, 'g', 1,
     {"EVENT:  Input File Name :JUSA41_1", "EVENT: MXR_ENTRY [1/1] = JUSA41_1: 50 bytes",
      "DEBUG: Getting ETA fakeBufrData.......", "EVENT: @\n",
      "EVENT: Writing record to netcdf file: 20240315_1200", "VERBOSE: ....and unlinking file @"}},
    {"JUSA41_0", 'b', 0, true, true, 'g', 1, {"VERBOSE: Unlinking file @"}},
    {"JUSA41_f", 'b', -1, true, true, 'b', 1, {"PROBLEM: Unable to write netcdf data. @, renamed"}},
    // A file that cannot be moved aside is never unlinked instead.
    {"JUSA41_n", 't', 1, true, false, 'i', 0,
     {"PROBLEM: Unable to move @ to ",
      "@ FAILED on rename() command: No such file or directory; it stays in the ingest "
      "directory until it can be moved",
      "!@ deleted"}},
    {"JUSA41_l", 'l', 1, true, true, 'b', 0,
     {"PROBLEM:  stat() failure on file @: No such file or directory",
      "PROBLEM: Unable to stat @, renamed to "}},
    // A short read, and a size the decode length cannot hold, move the file.
    {"JUSA41_d", 'd', 1, true, true, 'b', 0,
     {"PROBLEM: Only able to read 0 bytes of ", " bytes in file, JUSA41_d; Is a directory",
      "PROBLEM: Unable to parse @, renamed"}},
    {"JUSA41_h", 'h', 1, true, true, 'b', 0,
     {"PROBLEM: File JUSA41_h holds 4294967296 bytes, more than one BUFR buffer can take",
      "PROBLEM: Unable to parse @, renamed"}},
    {"JUSX", 'b', 1, true, true, 'g', 1,
     {"BUG: index out of range in TextString::checkIndex()  stringSize=4 user-index=4",
      "Writing record"}},
    {"JUSB9", 'b', 1, true, true, 'g', 1,
     {"PROBLEM: Error in regional designator pattern: [ for WMO code JUSB", "Writing record"}},
};

} // namespace

TEST_F(FileFlow, EveryFileEndsWithItsLoggedOutcome)
{
    ASSERT_EQ(message().size(), 49u);
    for (const FlowCase& c : flowCases) {
        SCOPED_TRACE(c.name);
        const std::string path = ingest(c.name);
        if (c.badDirectory)
            tree.mkdirs("qev_data/ispan/badFake");
        if (c.content == 'l')
            ASSERT_EQ(symlink((in + "nowhere").c_str(), path.c_str()), 0);
        else if (c.content == 'd')
            tree.mkdirs(std::string("qev_data/ispan/bufr/fake/") + c.name);
        else
            tree.write(std::string("qev_data/ispan/bufr/fake/") + c.name,
                       c.content == 'b' ? message() : c.content == 't' ? "not BUFR" : "");
        if (c.content == 'h') {
            ASSERT_EQ(truncate(path.c_str(), 4294967296LL), 0);
        }
        if (c.content == 'o')
            makeOld(path);

        FakeDecoder decoder;
        decoder.writeResult = c.writeResult;
        decoder.designatorVerdict = c.designatorVerdict;
        pauses = 0;
        LogCapture log;
        decoder.processBufrDirectory();
        EXPECT_EQ(present(path), c.ends == 'i');
        EXPECT_EQ(present(bad + c.name), c.ends == 'b');
        EXPECT_EQ(pauses, c.pauses);
        for (std::string line : c.lines) {
            for (size_t at; (at = line.find('@')) != std::string::npos;)
                line.replace(at, 1, path);
            const bool absent = line[0] == '!';
            EXPECT_NE(log.contains(line.substr(absent)), absent) << line << "\n" << log.text();
        }
        std::filesystem::remove_all(bad);
        std::filesystem::remove_all(path);
    }
}

// A bad-file directory that cannot take a bulletin (a plain file in its
// place): the bulletin stays in the ingest directory, logged once however
// many passes meet it, and is not decoded again; once the directory is
// mended the next pass moves it.  Bulletins of one name set aside one after
// the other are all kept, under suffixed names.
TEST_F(FileFlow, ABulletinIsKeptWhenItCannotBeMovedAndNoBadFileIsReplaced)
{
    tree.write("qev_data/ispan/badFake", "in the way");
    tree.write("qev_data/ispan/bufr/fake/JUSA41_t", "not BUFR 0");
    FakeDecoder decoder;
    LogCapture log;
    for (int pass = 0; pass < 3; ++pass)
        decoder.processBufrDirectory();
    EXPECT_TRUE(present(ingest("JUSA41_t")));
    EXPECT_EQ(log.count("FAILED on rename() command: Not a directory"), 1) << log.text();
    EXPECT_EQ(log.count("MXR_ENTRY"), 1);

    std::filesystem::remove(tree.path("qev_data/ispan/badFake"));
    tree.mkdirs("qev_data/ispan/badFake");
    decoder.processBufrDirectory();
    EXPECT_TRUE(log.contains("PROBLEM: Unable to parse " + ingest("JUSA41_t") + ", renamed to " +
                             bad + "JUSA41_t"));
    for (int i = 1; i <= 2; ++i) {
        tree.write("qev_data/ispan/bufr/fake/JUSA41_t", "not BUFR " + std::to_string(i));
        decoder.processBufrDirectory();
    }
    EXPECT_EQ(TempTree::listFiles(bad),
              (std::vector<std::string>{"JUSA41_t", "JUSA41_t.1", "JUSA41_t.2"}));
    for (int i = 0; i <= 2; ++i)
        EXPECT_EQ(TempTree::readFile(bad + (i ? "JUSA41_t." + std::to_string(i) : "JUSA41_t")),
                  "not BUFR " + std::to_string(i));
    EXPECT_TRUE(TempTree::listFiles(in).empty());
}

// A file of several messages: each decoded and stored in turn, the later
// ones announced with their octet; unlinked when all were stored, set aside
// with the reason and a count when one failed, the others stored all the
// same.
TEST_F(FileFlow, EveryMessageOfAFileIsStored)
{
    // Notes the temperature of each message it stores.
    struct NotingDecoder : FakeDecoder {
        int write2NetcdfFile() override
        {
            stored.push_back(_decodedValues[_decodedValues.length() - 1].getValue());
            return FakeDecoder::write2NetcdfFile();
        }
        std::vector<float> stored;
    };
    auto temperature = [](double t) {
        BufrWriter w;
        return w.descriptors({12101}).element(12101, t).build();
    };
    BufrWriter unknown;    // an element the decoder's tables lack
    const BufrWriter::Bytes undecodable =
        unknown.localElement(63250, 0, 0, 8).descriptors({63250}).element(63250, 1).build();
    const struct {
        const char* name;
        std::vector<BufrWriter::Bytes> messages;
        std::vector<float> stored;
        bool aside;
    } cases[] = {
        {"JUSA41_3", {temperature(271), temperature(272), temperature(273)}, {271, 272, 273}, false},
        {"JUSA41_2", {temperature(271), undecodable, temperature(273)}, {271, 273}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tree.mkdirs("qev_data/ispan/badFake");
        std::string file = "\x01\r\r\n001\r\r\nJUSA41 KWBC 151200\r\r\n";
        std::vector<size_t> octets;
        for (const BufrWriter::Bytes& m : c.messages) {
            octets.push_back(file.size());
            file.append(m.begin(), m.end()).append("\r\r\n\x03\x01\r\r\n002\r\r\n");
        }
        tree.write(std::string("qev_data/ispan/bufr/fake/") + c.name, file);
        NotingDecoder decoder;
        pauses = 0;
        LogCapture log;
        decoder.processBufrDirectory();
        EXPECT_EQ(decoder.stored, c.stored);
        EXPECT_EQ(present(bad + c.name), c.aside);
        EXPECT_FALSE(present(ingest(c.name)));
        for (size_t k = 1; k < octets.size(); ++k)
            EXPECT_TRUE(log.contains("EVENT: MXR_ENTRY [1/1] = " + std::string(c.name) +
                                     ": message " + std::to_string(k + 1) +
                                     " of the file at octet " + std::to_string(octets[k])))
                << log.text();
        EXPECT_EQ(log.contains("PROBLEM: Unable to parse (1 of 3 messages) " + ingest(c.name) +
                               ", renamed to " + bad + c.name),
                  c.aside);
        EXPECT_FALSE(log.contains("More BUFR messages"));
        EXPECT_EQ(pauses, 1);
    }

    // 400,000 octets of "BUFR" repeated, then a message: every "BUFR" is a
    // frame refused, the first five logged one by one, the others counted
    // in one line; the message behind them is named and stored, and the
    // file set aside.  A few dozen lines in all, at the categories an
    // operator reads.
    LogStream::resetFilters();
    std::string garbage;
    for (int i = 0; i < 100000; ++i)
        garbage += "BUFR";
    tree.write("qev_data/ispan/bufr/fake/JUSA41_g", garbage + message());
    NotingDecoder decoder;
    LogCapture log;
    decoder.processBufrDirectory();
    EXPECT_EQ(decoder.stored, std::vector<float>{273.15f});
    EXPECT_TRUE(present(bad + "JUSA41_g"));
    EXPECT_EQ(log.count("PROBLEM: BUFR edition 82 is not supported"), 5) << log.text();
    EXPECT_EQ(log.count("PROBLEM: 99,995 more frames refused in this file, " + ingest("JUSA41_g") +
                        ", were not logged one by one"),
              1)
        << log.text();
    EXPECT_EQ(log.count("EVENT: MXR_ENTRY [1/1] = JUSA41_g: message 100001 of the file at octet "
                        "400,000"),
              1);
    EXPECT_EQ(log.count("PROBLEM: Unable to parse (100000 of 100001 messages) " +
                        ingest("JUSA41_g") + ", renamed to " + bad +
                        "JUSA41_g: message 1 at octet 0: BUFR edition 82 is not supported"),
              1)
        << log.text();
    EXPECT_LT(log.lines().size(), 40u) << log.text();
}

// A pattern listing takes the matching names, sorted; dot files and other
// names stay, each other name logged once however many passes meet it.  A
// pattern fetched once per pass writes no line.  The signal client keeps the
// last file.  A file gone when opened is left alone.
TEST_F(FileFlow, ListingFollowsTheRecordAndAVanishedFileIsLeftAlone)
{
    for (const char* name : {"JUSB41_2", "JUSA41_1", "ABC", ".JUSA41_3"})
        tree.write(std::string("qev_data/ispan/bufr/fake/") + name, message());
    FakeDecoder::Record record = FakeDecoder::fakeRecord();
    record.listingPattern = "JUS.*";
    record.sortedListing = true;
    record.patternFetch = FakeDecoder::PATTERN_PER_PASS;
    record.logDirectoryName = false;
    FakeDecoder decoder(record);
    LogCapture log;
    decoder.processBufrDirectory();
    const std::string text = log.text();
    EXPECT_LT(text.find("MXR_ENTRY [1/2] = JUSA41_1"), text.find("MXR_ENTRY [2/2] = JUSB41_2"));
    EXPECT_NE(text.find("MXR_ENTRY [2/2]"), std::string::npos);
    EXPECT_TRUE(log.contains("DEBUG: exiting processBufrDirectory(): directory name " + in));
    EXPECT_FALSE(log.contains("VERBOSE: BUFR Pattern ["));
    EXPECT_FALSE(log.contains("processBufrDirectory: directory name"));
    EXPECT_EQ(TempTree::listFiles(in), (std::vector<std::string>{".JUSA41_3", "ABC"}));
    EXPECT_EQ(decoder.writes, 2);
    EXPECT_EQ(std::string(BufrSignalClient::instance()->badPath().c_str()), bad + "JUSB41_2");
    const std::string unlisted = "PROBLEM: File " + in +
                                 "ABC does not match JUS.*, the pattern of this decoder's "
                                 "files; it is left where it is";
    EXPECT_TRUE(log.contains(unlisted)) << text;
    log.clear();
    decoder.processBufrDirectory();
    EXPECT_FALSE(log.contains("ABC")) << log.text();

    log.clear();
    bool decoded = true;
    EXPECT_EQ(decoder.readBufrFile(0, 1, in.c_str(), "gone", decoded), FakeDecoder::FILE_VANISHED);
    EXPECT_FALSE(decoded);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"PROBLEM: MXR_FAIL fopen() failed on file gone",
                                                     "PROBLEM: \tNo such file or directory"}));
}

// A bulletin's name taken by a FIFO between the pass's check of the file and
// its open: the FIFO is opened without waiting and not read, the file is
// left with one line and the pass asks to run again; that pass takes what
// is there then (an empty FIFO is unlinked as an empty file).
TEST_F(FileFlow, ANameTakenByAFifoWhileCheckedIsLeftForTheNextPass)
{
    struct SwappingDecoder : FakeDecoder {
        bool checkDesignator(const TextString&) override
        {
            if (!fifo.empty()) {
                EXPECT_EQ(unlink(fifo.c_str()), 0);
                EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
                fifo.clear();
            }
            return true;
        }
        std::string fifo;
    } decoder;
    tree.mkdirs("qev_data/ispan/badFake");
    tree.write("qev_data/ispan/bufr/fake/JUSA41_s", message());
    decoder.fifo = ingest("JUSA41_s");
    LogCapture log;
    decoder.processBufrDirectory();
    EXPECT_TRUE(decoder.needsRetry());
    EXPECT_EQ(log.count("PROBLEM: File " + ingest("JUSA41_s") +
                        " changed while it was being checked; it is left for the next pass"),
              1)
        << log.text();
    EXPECT_EQ(decoder.writes, 0);
    makeOld(ingest("JUSA41_s"));
    decoder.processBufrDirectory();
    EXPECT_FALSE(decoder.needsRetry());
    EXPECT_TRUE(log.contains("EVENT: No data in datafile " + ingest("JUSA41_s")));
    EXPECT_TRUE(TempTree::listFiles(in).empty());
    EXPECT_TRUE(TempTree::listFiles(bad).empty());
}

// A bulletin renamed over, or written anew in place, while its messages are
// stored (or while it waits for the commit of its records): the name now
// holds another bulletin, which is neither unlinked nor moved with the
// first one's outcome but left, said once, for the next pass, which stores
// it.  The same for a bulletin set aside.
TEST_F(FileFlow, ABulletinChangedWhileItIsStoredIsLeftForTheNextPass)
{
    struct ChangingDecoder : FakeDecoder {
        int write2NetcdfFile() override
        {
            if (!change.empty()) {
                const std::string path = change;
                change.clear();
                const BufrWriter::Bytes bytes(other.begin(), other.end());
                if (renameOver) {
                    EXPECT_TRUE(BufrWriter::writeFile(path + ".new", bytes));
                    EXPECT_EQ(rename((path + ".new").c_str(), path.c_str()), 0);
                } else {
                    EXPECT_TRUE(BufrWriter::writeFile(path, bytes));
                }
            }
            return FakeDecoder::write2NetcdfFile();
        }
        std::string change;
        bool renameOver = false;
        std::string other;
    };
    tree.mkdirs("qev_data/ispan/badFake");
    const std::string path = ingest("JUSA41_c");
    for (int writeResult : {1, -1}) {
        for (bool renameOver : {true, false}) {
            SCOPED_TRACE(std::to_string(writeResult) + (renameOver ? " renamed" : " rewritten"));
            tree.write("qev_data/ispan/bufr/fake/JUSA41_c", message());
            ChangingDecoder decoder;
            decoder.writeResult = writeResult;
            decoder.change = path;
            decoder.renameOver = renameOver;
            decoder.other = message();
            decoder.other = "ZCZC\n" + decoder.other;
            LogCapture log;
            decoder.processBufrDirectory();
            EXPECT_TRUE(decoder.needsRetry());
            EXPECT_EQ(log.count("PROBLEM: File " + path + " was " +
                                (renameOver ? "replaced by another file" : "written") +
                                " while it was handled; it is left for the next pass"),
                      1)
                << log.text();
            ASSERT_TRUE(present(path));
            EXPECT_TRUE(TempTree::listFiles(bad).empty());
            // The next pass takes the new bulletin as any other.
            decoder.processBufrDirectory();
            EXPECT_EQ(decoder.writes, 2);
            EXPECT_EQ(present(path), false);
            EXPECT_EQ(TempTree::listFiles(bad).size(), writeResult == 1 ? 0u : 1u);
            std::filesystem::remove_all(bad);
            tree.mkdirs("qev_data/ispan/badFake");
        }
    }
}

// A bulletin that placed records and was then refused (a wind the store
// would not take) is set aside only once the commit has brought its records
// to the disk: set aside before, a power loss would leave its records
// uncommitted and it no longer there to be stored again.  It keeps its own
// reason; a failed commit adds the failure after it.
TEST_F(FileFlow, ABulletinSetAsideAfterPlacingRecordsWaitsForTheCommit)
{
    struct Refusing : FakeDecoder {
        int write2NetcdfFile() override
        {
            const int fd = syncable.empty() ? -1 : open(syncable.c_str(), O_RDONLY);
            int ends[2] = {-1, -1};
            if (fd < 0) {
                EXPECT_EQ(pipe(ends), 0);
            }
            DiskCommit::note(DiskCommit::DATA_FILE, fd >= 0 ? fd : ends[0], "/a/data/file");
            for (int held : {fd, ends[0], ends[1]})
                if (held >= 0)
                    close(held);
            DiskCommit::noteStep(this, [this] { atCommit = TempTree::listFiles(folder); });
            FakeDecoder::write2NetcdfFile();
            return setAside("Wind 3 of the bulletin is refused");
        }
        std::string syncable, folder;
        std::vector<std::string> atCommit;
    };
    tree.mkdirs("qev_data/ispan/badFake");
    for (const bool synced : {true, false}) {
        SCOPED_TRACE(synced ? "committed" : "not committed");
        Refusing decoder;
        decoder.syncable = synced ? tree.write("data", "records") : "";
        decoder.folder = in;
        tree.write("qev_data/ispan/bufr/fake/JUSA41_w", message());
        LogCapture log;
        decoder.processBufrDirectory();
        // Still in the ingest directory when the commit's last step ran.
        EXPECT_EQ(decoder.atCommit, synced ? std::vector<std::string>{"JUSA41_w"}
                                           : std::vector<std::string>());
        EXPECT_TRUE(TempTree::listFiles(in).empty());
        EXPECT_TRUE(log.contains("PROBLEM: Wind 3 of the bulletin is refused " +
                                 ingest("JUSA41_w") + ", renamed to " + bad + "JUSA41_w" +
                                 (synced ? "\n" : ": Could not sync /a/data/file: Invalid argument\n")))
            << log.text();
        std::filesystem::remove_all(bad);
        tree.mkdirs("qev_data/ispan/badFake");
    }
}

// A commit that cannot bring the records to the disk is a failed write: the
// bulletins stored whole are set aside with the failed-write reason and the
// failure, never unlinked.
TEST_F(FileFlow, BulletinsWhoseRecordsCannotBeSyncedAreSetAside)
{
    struct UnsyncedDecoder : FakeDecoder {
        int write2NetcdfFile() override
        {
            // A pipe takes no fdatasync.
            int ends[2];
            EXPECT_EQ(pipe(ends), 0);
            DiskCommit::note(DiskCommit::DATA_FILE, ends[0], "/a/pipe");
            close(ends[0]);
            close(ends[1]);
            return FakeDecoder::write2NetcdfFile();
        }
    } decoder;
    tree.mkdirs("qev_data/ispan/badFake");
    for (const char* name : {"JUSA41_a", "JUSA41_b"})
        tree.write(std::string("qev_data/ispan/bufr/fake/") + name, message());
    LogCapture log;
    decoder.processBufrDirectory();
    EXPECT_TRUE(TempTree::listFiles(in).empty());
    EXPECT_EQ(TempTree::listFiles(bad).size(), 2u);
    EXPECT_TRUE(log.contains("PROBLEM: Unable to write netcdf data. " + ingest("JUSA41_a") +
                             ", renamed to " + bad + "JUSA41_a: Could not sync /a/pipe: "
                             "Invalid argument\n"))
        << log.text();
    EXPECT_FALSE(log.contains("deleted"));
    EXPECT_FALSE(DiskCommit::pending());
}

// A store that cannot read its pass journal stores nothing: the bulletins
// it refuses wait in the ingest directory (not set aside), said once, and
// are not handled again while the journal stays unreadable, as the other
// store's are stored.  Once the journal can be read the store stores again
// and the waiting bulletin is stored.
TEST_F(FileFlow, ABulletinWhoseStoreCannotUseItsJournalWaits)
{
    QEV_REQUIRE_NCGEN();
    // Each bulletin places one record in the store its name ends with.
    struct Storing : FakeDecoder {
        int write2NetcdfFile() override
        {
            ++writes;
            const std::string path = BufrSignalClient::instance()->sourcePath().c_str();
            NetcdfPointData* store = NetcdfPointData::getNetcdfPointData(
                (root + "/" + path.substr(path.size() - 1)).c_str(), true, false);
            const bool placed = store && place(store, {"x"}, {1173895260.0}).handle;
            _netcdfFileName = NetcdfPointData::lastFileTimeStamp();
            return placed ? 1 : -1;
        }
        std::string root;
    } decoder;
    decoder.root = tree.mkdirs("qev_data/point");
    FakeStoreClock clock;
    NetcdfPointData::forgetAllStores();
    for (const char* store : {"a", "b"}) {
        const std::string dir = tree.mkdirs(std::string("qev_data/point/") + store);
        std::string error;
        ASSERT_TRUE(Cdl::make(idStoreCdl(), dir + "/template", &error)) << error;
        // Each store has its journal.
        ASSERT_NE(NetcdfPointData::getNetcdfPointData(dir.c_str(), true, false), nullptr);
    }
    tree.mkdirs("qev_data/ispan/badFake");
    NetcdfPointData::forgetAllStores();
    const std::string journal = decoder.root + "/a/passJournal";
    IoFaults::fail(IoFaults::READ, journal, EIO);
    for (const char* name : {"JUSA41_a", "JUSA41_b"})
        tree.write(std::string("qev_data/ispan/bufr/fake/") + name, message());
    LogCapture log;
    decoder.processBufrDirectory();
    EXPECT_EQ(TempTree::listFiles(in), std::vector<std::string>{"JUSA41_a"});
    EXPECT_TRUE(TempTree::listFiles(bad).empty());
    EXPECT_TRUE(decoder.needsRetry());
    EXPECT_TRUE(log.contains("PROBLEM: Could not read " + journal + ": Input/output error; the "
                             "store " + decoder.root + "/a stores nothing until its pass journal "
                             "can be used: its bulletins wait in their ingest directory"))
        << log.text();
    EXPECT_TRUE(log.contains("EVENT: " + ingest("JUSA41_a") + " waits in the ingest directory "
                             "until the pass journal of its store can be used"))
        << log.text();
    const int writes = decoder.writes;
    decoder.processBufrDirectory();
    EXPECT_EQ(decoder.writes, writes);
    EXPECT_TRUE(decoder.needsRetry());
    EXPECT_EQ(log.count("stores nothing until"), 1) << log.text();

    IoFaults::clear();
    decoder.processBufrDirectory();
    EXPECT_TRUE(TempTree::listFiles(in).empty());
    EXPECT_FALSE(decoder.needsRetry());
    EXPECT_TRUE(log.contains("PROBLEM: The pass journal of " + decoder.root +
                             "/a can be used again: the store stores again"))
        << log.text();
    for (const char* store : {"a", "b"})
        EXPECT_EQ(readRows(decoder.root + "/" + store + "/20070314_1800", "stationId"),
                  std::vector<std::string>{"x"})
            << store;
    NetcdfPointData::forgetAllStores();
}
