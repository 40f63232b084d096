// The decoder process against what could hold it or end it: a bulletin
// under another process's write lease and a bulletin's name swapped between
// a file and a FIFO, a file size limit below an hour file, a notification
// server that listens but never accepts, and SIGALRM before any file was
// taken.  Each time the decoder answers within seconds (the bounds are
// liveness bounds: these faults held it for minutes, or for good), and
// every bulletin ends stored or set aside with its reason.
#include "DecoderInstallation.h"
#include "DecoderProcess.h"
#include "HighDensityWindSamples.h"
#include "StoredRecords.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

const int ANSWER_MS = 30000;

// The cloud-drift wind installation and its sample bulletins of an hour.
struct Winds : DecoderInstallation {
    Winds() : DecoderInstallation("csw", "bufr/CSW", "badCSWBufr") {}

    static SampleBulletin bulletin(int hour = 12)
    {
        SampleOptions o;
        o.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
        o.hour = hour;
        std::vector<SampleBulletin> all;
        std::string error;
        EXPECT_TRUE(HighDensityWindSamples::make(o, all, error)) << error;
        return all.at(0);
    }
    std::multiset<std::string> records() const { return storedRecords(*this, "CSW/netcdf"); }
};

// A listening socket on 127.0.0.1 whose backlog is full: it takes no
// connection, as a server does that has stopped or hangs.
struct HungServer {
    HungServer()
    {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), size), 0);
        EXPECT_EQ(listen(fd, 0), 0);
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
        // Connections until one is not taken; that one goes again.
        for (int i = 0; i < 16; ++i) {
            const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            pollfd p = {c, POLLOUT, 0};
            if (poll(&p, 1, 300) != 1) {
                close(c);
                full = true;
                break;
            }
            fillers.push_back(c);
        }
    }
    ~HungServer()
    {
        for (int c : fillers)
            close(c);
        close(fd);
    }
    // Whether a connection to it waits for its answer (SYN sent).
    bool connecting() const
    {
        std::ifstream tcp("/proc/net/tcp");
        std::string line, sl, local, remote, state;
        char port_[8];
        std::snprintf(port_, sizeof port_, ":%04X", port);
        while (std::getline(tcp, line)) {
            std::istringstream fields(line);
            if (fields >> sl >> local >> remote >> state && state == "02" &&
                remote.size() > 5 && remote.compare(remote.size() - 5, 5, port_) == 0)
                return true;
        }
        return false;
    }
    std::string entry() const { return "NOTIFICATION_SERVER,127.0.0.1," + std::to_string(port); }

    int fd = -1;
    uint16_t port = 0;
    bool full = false;
    std::vector<int> fillers;
};

// A data message; true once the ReadyMsg after it came within ANSWER_MS.
bool answers(DecoderProcess& run)
{
    if (run.connection < 0)
        run.connection = run.peer.connectTo(run.sender);
    return run.peer.sendData(run.connection, 1, std::string(40, 'x')) && run.ready(ANSWER_MS);
}

} // namespace

// A bulletin under the test's write lease is left for a later pass with one
// line, the data message answered at once; once the lease is gone it is
// stored.  Then the bulletin's name is swapped between a file and a FIFO
// over many passes: every data message is answered.
TEST(HeldAndLimited, ALeasedOrSwappedBulletinNeverHoldsTheDecoder)
{
    QEV_REQUIRE_NCGEN();
    Winds w;
    const SampleBulletin b = Winds::bulletin();
    DecoderProcess run(w.peer, "csw", w.tree.path("held.log"));
    ASSERT_TRUE(run.ready()) << run.child.log();

    w.drop(b);
    const std::string path = w.in + "/" + b.name;
    void (*before)(int) = signal(SIGIO, SIG_IGN);   // the lease break's signal
    const int fd = open(path.c_str(), O_RDONLY);
    if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
        std::cout << "write leases are not available here (" << std::strerror(errno)
                  << "): the lease is not tried" << std::endl;
    } else {
        EXPECT_TRUE(answers(run)) << run.child.log();
        EXPECT_TRUE(TempTree::exists(path));
        EXPECT_NE(run.child.log().find("File " + path + " is under another process's lease"),
                  std::string::npos)
            << run.child.log();
        fcntl(fd, F_SETLEASE, F_UNLCK);
    }
    close(fd);
    signal(SIGIO, before);
    EXPECT_TRUE(answers(run)) << run.child.log();
    EXPECT_EQ(w.records().size(), size_t(HighDensityWindSamples::WINDS));
    EXPECT_TRUE(TempTree::listFiles(w.in).empty());

    // A file and a FIFO trade places at the name, as fast as the system
    // goes; what the decoder took from the name is made again.
    const std::string other = w.tree.mkdirs("swap") + "/other";
    std::atomic<bool> swapping(true);
    std::thread swapper([&] {
        while (swapping) {
            if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE) == 0)
                continue;
            struct stat at;
            if (lstat(path.c_str(), &at) != 0) {
                std::ofstream(path) << "not a bulletin";
                lstat(path.c_str(), &at);
            }
            struct stat beside;
            if (lstat(other.c_str(), &beside) == 0 &&
                S_ISFIFO(beside.st_mode) != S_ISFIFO(at.st_mode))
                continue;
            unlink(other.c_str());
            if (S_ISFIFO(at.st_mode))
                std::ofstream(other) << "not a bulletin";
            else
                mkfifo(other.c_str(), 0600);
        }
    });
    for (int message = 0; message < 100; ++message)
        if (!answers(run)) {
            ADD_FAILURE() << "data message " << message << " got no answer\n" << run.child.log();
            break;
        }
    swapping = false;
    swapper.join();
    fs::remove(path);
    EXPECT_EQ(run.stop(), 0) << run.child.log();
}

// A file size limit below an hour file of 3,000 winds, with the day's
// collective log already past it: the process starts, logs what it can and
// sets the bulletin aside as the write fails (EFBIG, as on a full disk).  A
// start without the limit stores the bulletin requeued, every wind once.
TEST(HeldAndLimited, AFileSizeLimitFailsTheWriteAndTheProcessGoesOn)
{
    QEV_REQUIRE_NCGEN();
    Winds w;
    const SampleBulletin b = Winds::bulletin();
    const std::string store = w.tree.path("qev_data/point/CSW/netcdf");
    const rlim_t limit = fs::file_size(store + "/template") + (64 << 10);
    w.tree.setEnv("LOG_PREF", w.tree.write("pref", "all all tty event = on\n").c_str());
    char day[16];
    const time_t now = time(nullptr);
    strftime(day, sizeof day, "%Y%m%d", gmtime(&now));
    w.tree.write("log/" + std::string(day) + "/decoder", std::string(limit + 1, '.'));
    w.drop(b);
    {
        const struct rlimit limited = {limit, RLIM_INFINITY}, lifted = {RLIM_INFINITY,
                                                                        RLIM_INFINITY};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        DecoderProcess run(w.peer, "csw", w.tree.path("limited.log"));
        setrlimit(RLIMIT_FSIZE, &lifted);
        ASSERT_TRUE(run.ready(30000)) << run.child.log();
        EXPECT_NE(run.child.log().find("Unable to MXR_STORE netcdf data. " + w.in + "/" + b.name +
                                       ", renamed to " + w.bad + "/" + b.name),
                  std::string::npos)
            << run.child.log();
        EXPECT_EQ(run.stop(), 0) << run.child.log();
    }
    ASSERT_TRUE(TempTree::exists(w.bad + "/" + b.name));
    fs::rename(w.bad + "/" + b.name, w.in + "/" + b.name);
    DecoderProcess again(w.peer, "csw", w.tree.path("again.log"));
    ASSERT_TRUE(again.ready(30000)) << again.child.log();
    EXPECT_EQ(again.stop(), 0);
    EXPECT_TRUE(TempTree::listFiles(w.in).empty());
    EXPECT_TRUE(TempTree::listFiles(w.bad).empty()) << again.child.log();
    EXPECT_EQ(w.records().size(), size_t(HighDensityWindSamples::WINDS));
    for (const std::string& file : w.dataFiles("CSW/netcdf"))
        EXPECT_GT(fs::file_size(file), limit);
}

// A notification server that takes no connection: the bulletin is stored
// and its notification dropped, logged, and the data message answered
// within seconds.  SIGTERM while a decoder waits for that server is acted
// on at once, and the process ends clean.
TEST(HeldAndLimited, ANotificationServerThatNeverAcceptsHoldsNothing)
{
    QEV_REQUIRE_NCGEN();
    Winds w;
    HungServer server;
    ASSERT_TRUE(server.full);
    w.tree.write("qev_home/data/qev.config", WirePeer::namedTargetsConfig({server.entry()}));
    {
        DecoderProcess run(w.peer, "csw", w.tree.path("hung.log"));
        ASSERT_TRUE(run.ready()) << run.child.log();
        w.drop(Winds::bulletin());
        EXPECT_TRUE(answers(run)) << run.child.log();
        EXPECT_TRUE(TempTree::listFiles(w.in).empty());
        EXPECT_NE(run.child.log().find("PROBLEM: A notification to NOTIFICATION_SERVER failed (it "
                                       "took no connection within the wait)"),
                  std::string::npos)
            << run.child.log();
        EXPECT_EQ(run.stop(), 0);
    }
    w.drop(Winds::bulletin(13));
    DecoderProcess waiting(w.peer, "csw", w.tree.path("term.log"));
    ASSERT_TRUE(waiting.child.waitForLog("MXR_ENTRY", 30000)) << waiting.child.log();
    for (int look = 0; look < 3000 && !server.connecting(); ++look)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(server.connecting()) << waiting.child.log();
    waiting.child.signal(SIGTERM);
    EXPECT_EQ(waiting.child.waitExit(3000), 0) << waiting.child.log();
    EXPECT_NE(waiting.child.log().find("Signal 15 (Terminate) received for clean shutdown"),
              std::string::npos);
    EXPECT_TRUE(TempTree::listFiles(w.in).empty());
    EXPECT_EQ(w.records().size(), size_t(2 * HighDensityWindSamples::WINDS));
}

// SIGALRM before the decoder has taken any file: a dirty shutdown that
// moves nothing, the ingest directory least of all; the next start works.
TEST(HeldAndLimited, SigalrmBeforeTheFirstFileMovesNothing)
{
    QEV_REQUIRE_NCGEN();
    Winds w;
    {
        DecoderProcess run(w.peer, "csw", w.tree.path("alarm.log"));
        ASSERT_TRUE(run.ready()) << run.child.log();
        run.child.signal(SIGALRM);
        EXPECT_EQ(run.child.waitExit(30000), 1) << run.child.log();
        EXPECT_NE(run.child.log().find("Signal 14 (Alarm clock) received for dirty shutdown"),
                  std::string::npos);
    }
    EXPECT_TRUE(fs::is_directory(w.in));
    EXPECT_TRUE(TempTree::listFiles(w.bad).empty());
    DecoderProcess next(w.peer, "csw", w.tree.path("next.log"));
    ASSERT_TRUE(next.ready()) << next.child.log();
    w.drop(Winds::bulletin());
    EXPECT_TRUE(answers(next)) << next.child.log();
    EXPECT_EQ(next.stop(), 0);
    EXPECT_TRUE(TempTree::listFiles(w.in).empty());
    EXPECT_EQ(w.records().size(), size_t(HighDensityWindSamples::WINDS));
}
