// Each case runs in a forked child that makes the signal catcher with its
// own QEV_DUMP_CORE, raises signals and waits; the parent reads the child's
// standard error (where the log's terminal sink writes) and its end.
#include <gtest/gtest.h>

#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "Connection.h"
#include "LogStream.h"
#include "SignalCatcher.h"
#include "ipcInitialise.h"

namespace {

const int STILL_RUNNING = 77;

struct ChildEnd {
    int exitCode = -1;  // -1 when killed by a signal
    int signal = 0;     // the signal that ended it, 0 when it exited
    std::string err;    // its standard error

    size_t at(const std::string& text) const { return err.find(text); }
    bool has(const std::string& text) const { return at(text) != std::string::npos; }
};

// A marker on standard error, written directly so it keeps its place among
// the log lines.
void note(const std::string& text)
{
    std::string line = text + "\n";
    ssize_t n = write(STDERR_FILENO, line.data(), line.size());
    (void)n;
}

void waitOnce(const char* label = nullptr)
{
    int result = Connection::waitForEvent(-1, nullptr);
    if (label)
        note(std::string(label) + "=" + std::to_string(result));
}

// dumpCore: the value of QEV_DUMP_CORE in the child, null for unset.
ChildEnd runChild(const char* dumpCore, const std::function<void()>& body)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDERR_FILENO);
        close(fds[1]);
        struct rlimit noCore = {0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        if (dumpCore)
            setenv("QEV_DUMP_CORE", dumpCore, 1);
        else
            unsetenv("QEV_DUMP_CORE");
        ipcInitialise();
        body();
        _exit(STILL_RUNNING);
    }
    close(fds[1]);
    ChildEnd end;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        pollfd p{fds[0], POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) {
            ADD_FAILURE() << "the child hung; killed";
            kill(pid, SIGKILL);
            break;
        }
        char buffer[4096];
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        end.err.append(buffer, n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        end.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        end.signal = WTERMSIG(status);
    return end;
}

std::string shutdownLine(int signal, const char* name, bool clean)
{
    return "Signal " + std::to_string(signal) + " (" + name + ") received for " +
           (clean ? "clean" : "dirty") + " shutdown";
}

}  // namespace

TEST(SignalShutdown, CleanOnTerminateInterruptAndQuitInTheMainThreadsWait)
{
    const struct {
        int signal;
        const char* name;
    } cases[] = {{SIGTERM, "Terminate"}, {SIGINT, "Interrupt"}, {SIGQUIT, "Quit"}};
    for (const auto& c : cases) {
        ChildEnd end = runChild(nullptr, [&] {
            raise(c.signal);
            note("raised");  // the handler only wrote into the pipe
            waitOnce();
        });
        EXPECT_EQ(end.exitCode, 0) << c.name << "\n" << end.err;
        ASSERT_TRUE(end.has(shutdownLine(c.signal, c.name, true))) << end.err;
        EXPECT_LT(end.at("raised"), end.at(shutdownLine(c.signal, c.name, true)));
    }
}

TEST(SignalShutdown, DirtyOnFaultsAlarmsAndAbortWithDumpCoreZero)
{
    const struct {
        int signal;
        const char* name;
        const char* dumpCore;
    } cases[] = {{SIGSEGV, "Segmentation violation", nullptr},
                 {SIGFPE, "Floating point exception", "2"},
                 {SIGALRM, "Alarm clock", "1"},
                 {SIGPROF, "Profile timer alarm", "1"},
                 {SIGABRT, "Abort/IOT instruction", "0"}};
    for (const auto& c : cases) {
        ChildEnd end = runChild(c.dumpCore, [&] {
            raise(c.signal);
            waitOnce();
        });
        EXPECT_EQ(end.exitCode, 1) << c.name << "\n" << end.err;
        std::string dirty = shutdownLine(c.signal, c.name, false);
        ASSERT_TRUE(end.has(dirty)) << end.err;
        ASSERT_TRUE(end.has("Stack tracing capability not implemented.")) << end.err;
        EXPECT_LT(end.at("Stack tracing capability not implemented."), end.at(dirty));
    }
}

TEST(SignalShutdown, DumpCoreOneLeavesQuitAndAbortToTheSystem)
{
    for (int signal : {SIGQUIT, SIGABRT}) {
        ChildEnd end = runChild("1", [&] {
            raise(signal);
            waitOnce();
        });
        EXPECT_EQ(end.signal, signal) << end.err;
        EXPECT_FALSE(end.has("shutdown")) << end.err;
    }
}

TEST(SignalShutdown, SecondRequestDuringShutdownKills)
{
    ChildEnd end = runChild("1", [] {
        // Runs first among the exit handlers of the dirty shutdown.
        std::atexit([] { SignalCatcher::existing()->handleSignal(SIGTERM); });
        raise(SIGALRM);
        waitOnce();
    });
    EXPECT_EQ(end.signal, SIGKILL) << end.err;
    EXPECT_TRUE(end.has(shutdownLine(SIGALRM, "Alarm clock", false))) << end.err;
    EXPECT_FALSE(end.has("clean shutdown")) << end.err;
}

TEST(SignalReactions, LoggedIgnoredAndInOrder)
{
    ChildEnd end = runChild("1", [] {
        raise(SIGHUP);
        raise(SIGPIPE);  // handled at once, inside its handler
        raise(SIGURG);
        raise(SIGHUP);
        waitOnce("first");
        SignalCatcher::instance()->handleSignal(16);

        // Each SIGUSR2 toggles filtering: two leave DEBUG filtered.
        raise(SIGUSR2);
        raise(SIGUSR2);
        waitOnce();
        QEV_LOG(LogStream::DEBUG, "SignalCatcherTest") << "debug after two" << std::endl;
        raise(SIGUSR2);
        waitOnce();
        QEV_LOG(LogStream::DEBUG, "SignalCatcherTest") << "debug after three" << std::endl;
    });
    EXPECT_EQ(end.exitCode, STILL_RUNNING) << end.err;
    size_t pipeLine = end.at("SignalClient::ioSignal() recv'd and ignored SIGPIPE");
    const std::string resetLine = "SignalClient::reset() received and ignored SIGHUP";
    size_t reset = end.at(resetLine);
    size_t stats = end.at("IPC STATISTICS for ");
    size_t secondReset = end.err.find(resetLine, reset + 1);
    size_t first = end.at("first=");
    ASSERT_NE(pipeLine, std::string::npos) << end.err;
    ASSERT_NE(secondReset, std::string::npos) << end.err;
    EXPECT_LT(pipeLine, reset);
    EXPECT_LT(reset, stats);
    EXPECT_LT(stats, secondReset);
    EXPECT_LT(secondReset, first);
    EXPECT_TRUE(end.has("Unknown signal 16 in SignalCatcher")) << end.err;
    EXPECT_FALSE(end.has("debug after two")) << end.err;
    EXPECT_TRUE(end.has("debug after three")) << end.err;
}

TEST(SignalReactions, SignalEndsTheWaitAndIsHandledOnTheNext)
{
    ChildEnd end = runChild("1", [] {
        pid_t child = fork();
        if (child == 0)
            _exit(0);
        pthread_t mainThread = pthread_self();
        std::thread urgent([mainThread] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            pthread_kill(mainThread, SIGURG);
        });
        note("interrupted=" + std::to_string(Connection::waitForEvent(0, nullptr)));
        urgent.join();
        // SIGCHLD has come by now too; the next passes reap the child.
        for (int i = 0; i < 10 && kill(child, 0) == 0; ++i) {
            Connection::waitForEvent(1, nullptr);
        }
        note(kill(child, 0) == 0 ? "zombie" : "reaped");
    });
    EXPECT_EQ(end.exitCode, STILL_RUNNING) << end.err;
    ASSERT_TRUE(end.has("interrupted=-1")) << end.err;
    EXPECT_LT(end.at("interrupted=-1"), end.at("IPC STATISTICS for "));
    EXPECT_TRUE(end.has("reaped")) << end.err;
}

TEST(SignalReactions, FaultInAnotherThreadKillsWithoutShutdown)
{
    ChildEnd end = runChild(nullptr, [] {
        std::thread([] { pthread_kill(pthread_self(), SIGPIPE); }).join();
        note("pipe ignored");
        std::thread([] { pthread_kill(pthread_self(), SIGSEGV); }).join();
    });
    EXPECT_EQ(end.signal, SIGKILL) << end.err;
    EXPECT_TRUE(end.has("pipe ignored")) << end.err;
    EXPECT_FALSE(end.has("SIGPIPE")) << end.err;
    EXPECT_TRUE(end.has("Signal 11 (Segmentation violation) received inside a thread for dirty "
                        "shutdown"))
        << end.err;
    EXPECT_FALSE(end.has("received for dirty shutdown")) << end.err;
}

TEST(SignalReactions, BurstBeyondThePipesCapacityNeverBlocksTheHandler)
{
    ChildEnd end = runChild("1", [] {
        for (int i = 0; i < 40000; ++i)
            raise(SIGHUP);
        note("burst done");
        waitOnce();  // the pipe still works
    });
    EXPECT_EQ(end.exitCode, STILL_RUNNING) << end.err.substr(0, 2000);
    EXPECT_TRUE(end.has("burst done"));
    EXPECT_TRUE(end.has("received and ignored SIGHUP"));
}
