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
#include "SignalClient.h"
#include "ThreadSignalCatcher.h"
#include "ipcInitialise.h"

namespace {

const int STILL_RUNNING = 77;

struct ChildEnd {
    int exitCode = -1;  // -1 when killed by a signal
    int signal = 0;     // the signal that ended it, 0 when it exited
    std::string err;    // its standard error

    bool has(const std::string& text) const { return err.find(text) != std::string::npos; }
    // Whether the texts all appear, in this order.
    bool inOrder(std::initializer_list<std::string> texts) const
    {
        size_t at = 0;
        for (const std::string& text : texts) {
            at = err.find(text, at);
            if (at == std::string::npos)
                return false;
            at += text.size();
        }
        return true;
    }
};

// A marker on standard error, written directly so it keeps its place among
// the log lines.
void note(const std::string& text)
{
    const std::string line = text + "\n";
    if (write(STDERR_FILENO, line.data(), line.size()) < 0)
        _exit(STILL_RUNNING + 1);
}

void waitOnce(const char* label = nullptr)
{
    const int result = Connection::waitForEvent(-1, nullptr);
    if (label)
        note(std::string(label) + "=" + std::to_string(result));
}

// dumpCore: the value of QEV_DUMP_CORE in the child, null for unset.
ChildEnd runChild(const char* dumpCore, const std::function<void()>& body)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        close(fds[1]);
        const struct rlimit noCore = {0, 0};
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (char buffer[4096];;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            ADD_FAILURE() << "the child hung; killed";
            kill(pid, SIGKILL);
            break;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        end.err.append(buffer, n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    end.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return end;
}

}  // namespace

// Caught signals are written into the pipe and shut down from the main
// thread's wait; fatal ones at once, after the stack-tracing line.  With
// QEV_DUMP_CORE=1 SIGQUIT and SIGABRT are left to the system.
TEST(SignalShutdown, CleanDirtyOrLeftToTheSystem)
{
    enum End { CLEAN, DIRTY, SYSTEM };
    const struct {
        int signal;
        const char* name;
        const char* dumpCore;
        End end;
    } cases[] = {{SIGTERM, "Terminate", nullptr, CLEAN},
                 {SIGINT, "Interrupt", nullptr, CLEAN},
                 {SIGQUIT, "Quit", nullptr, CLEAN},
                 {SIGSEGV, "Segmentation violation", nullptr, DIRTY},
                 {SIGFPE, "Floating point exception", "2", DIRTY},
                 {SIGALRM, "Alarm clock", "1", DIRTY},
                 {SIGPROF, "Profile timer alarm", "1", DIRTY},
                 {SIGABRT, "Abort/IOT instruction", "0", DIRTY},
                 {SIGQUIT, "Quit", "1", SYSTEM},
                 {SIGABRT, "Abort/IOT instruction", "1", SYSTEM}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ChildEnd end = runChild(c.dumpCore, [&] {
            raise(c.signal);
            note("raised");  // a caught signal's handler only writes into the pipe
            waitOnce();
        });
        const std::string line = "Signal " + std::to_string(c.signal) + " (" + c.name +
                                 ") received for " + (c.end == CLEAN ? "clean" : "dirty") +
                                 " shutdown";
        if (c.end == SYSTEM) {
            EXPECT_EQ(end.signal, c.signal) << end.err;
            EXPECT_FALSE(end.has("shutdown")) << end.err;
        } else {
            EXPECT_EQ(end.exitCode, c.end == CLEAN ? 0 : 1) << end.err;
            EXPECT_TRUE(end.inOrder(
                {c.end == CLEAN ? "raised" : "Stack tracing capability not implemented.", line}))
                << end.err;
        }
    }
}

TEST(SignalShutdown, SecondRequestDuringShutdownKills)
{
    const ChildEnd end = runChild("1", [] {
        // Runs first among the exit handlers of the dirty shutdown.
        std::atexit([] { SignalCatcher::existing()->handleSignal(SIGTERM); });
        raise(SIGALRM);
        waitOnce();
    });
    EXPECT_EQ(end.signal, SIGKILL) << end.err;
    EXPECT_TRUE(end.has("Signal 14 (Alarm clock) received for dirty shutdown")) << end.err;
    EXPECT_FALSE(end.has("clean shutdown")) << end.err;
}

TEST(SignalReactions, LoggedIgnoredAndInOrder)
{
    const ChildEnd end = runChild("1", [] {
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
    const std::string reset = "SignalClient::reset() received and ignored SIGHUP";
    EXPECT_TRUE(end.inOrder({"SignalClient::ioSignal() recv'd and ignored SIGPIPE", reset,
                             "IPC STATISTICS for ", reset, "first=",
                             "Unknown signal 16 in SignalCatcher", "debug after three"}))
        << end.err;
    EXPECT_FALSE(end.has("debug after two")) << end.err;
}

TEST(SignalReactions, SignalEndsTheWaitAndIsHandledOnTheNext)
{
    const ChildEnd end = runChild("1", [] {
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        const pthread_t mainThread = pthread_self();
        std::thread urgent([mainThread] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            pthread_kill(mainThread, SIGURG);
        });
        note("interrupted=" + std::to_string(Connection::waitForEvent(0, nullptr)));
        urgent.join();
        waitOnce();  // the next pass handles it
        // SIGCHLD has come by now too; the passes reap the child.
        for (int i = 0; i < 10 && kill(child, 0) == 0; ++i)
            Connection::waitForEvent(1, nullptr);
        note(kill(child, 0) == 0 ? "zombie" : "reaped");
    });
    EXPECT_EQ(end.exitCode, STILL_RUNNING) << end.err;
    EXPECT_TRUE(end.inOrder({"interrupted=-1", "IPC STATISTICS for ", "reaped"})) << end.err;
}

TEST(SignalReactions, FaultInAnotherThreadKillsWithoutShutdown)
{
    const ChildEnd end = runChild(nullptr, [] {
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
    const ChildEnd end = runChild("1", [] {
        for (int i = 0; i < 40000; ++i)
            raise(SIGHUP);
        note("burst done");
        waitOnce();  // the pipe still works
    });
    EXPECT_EQ(end.exitCode, STILL_RUNNING) << end.err.substr(0, 2000);
    EXPECT_TRUE(end.inOrder({"burst done", "received and ignored SIGHUP"}));
}

// With the caught signals blocked in every thread, the signal thread takes
// them and the main thread handles them from the pipe; after SIGCHLD is
// released a new thread still takes the others.
TEST(SignalReactions, SignalThreadTakesBlockedSignalsThroughThePipe)
{
    const ChildEnd end = runChild("1", [] {
        struct Recorder : SignalClient {
            void reset() override { handled(SIGHUP); }
            void statsSignal() override { handled(SIGURG); }
            void handled(int signal)
            {
                note("handled " + std::to_string(signal) +
                     (pthread_equal(pthread_self(), mainThread) ? " in main" : " elsewhere"));
                last = signal;
            }
            pthread_t mainThread = pthread_self();
            int last = 0;
        } recorder;
        const auto sendAndWait = [&recorder](int signal) {
            kill(getpid(), signal);
            for (int i = 0; i < 100 && recorder.last != signal; ++i)
                Connection::waitForEvent(1, nullptr);
        };
        const sigset_t caught = SignalCatcher::caughtSignalSet();
        pthread_sigmask(SIG_BLOCK, &caught, nullptr);
        ThreadSignalCatcher* catcher = SignalCatcher::instance()->threadSignalCatcher();
        catcher->setClient(&recorder);
        note(catcher->startSignalThread() ? "started" : "not started");
        sendAndWait(SIGHUP);
        catcher->releaseChildSignal();
        note(catcher->isThreadRunning() ? "running" : "stopped");
        sendAndWait(SIGURG);
        catcher->setClient(nullptr);
    });
    EXPECT_EQ(end.exitCode, STILL_RUNNING) << end.err;
    EXPECT_TRUE(end.inOrder({"started", "handled 1 in main", "running", "handled 23 in main"}))
        << end.err;
}
