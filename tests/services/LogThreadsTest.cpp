// Many threads logging at once: every message comes out whole, on its own
// line, on every sink.
#include "LogTestFixture.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using LogThreadsTest = LogFixture;

TEST_F(LogThreadsTest, ConcurrentMessagesComeOutWhole)
{
    const int threads = 8, messages = 300;
    LogCapture log;
    auto message = [](int t, int i) {
        return "thread " + std::to_string(t) + " message " + std::to_string(i) + ' ' +
               std::string(40, static_cast<char>('a' + t)) + ' ' + std::to_string(t);
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            const std::string filler(40, static_cast<char>('a' + t));
            for (int i = 0; i < messages; ++i)  // composed in pieces
                QEV_LOG(LogStream::PROBLEM, "LogThreads")
                    << "thread " << t << " message " << i << ' ' << filler << ' ' << t
                    << std::endl;
        });
    for (std::thread& w : workers)
        w.join();

    auto check = [&](const Lines& lines, const char* sink) {
        ASSERT_EQ(lines.size(), static_cast<size_t>(threads * messages)) << sink;
        int next[threads] = {};  // each thread's messages arrive in order
        for (const std::string& line : lines) {
            int t = -1;
            ASSERT_EQ(sscanf(line.c_str(), "PROBLEM: thread %d", &t), 1) << sink << ": " << line;
            ASSERT_TRUE(t >= 0 && t < threads) << line;
            EXPECT_EQ(line, "PROBLEM: " + message(t, next[t]++)) << sink;
        }
    };
    check(log.lines(), "terminal");
    check(logMessages(), "log file");
    check(collectiveMessages(), "collective file");
}

// A fork while another thread writes a message: the child can log at once
// (without the fork waiting, the child would inherit a lock held by a
// thread it does not have, and hang).
TEST_F(LogThreadsTest, ChildForkedDuringAnotherThreadsMessageCanLog)
{
    LogCapture log;
    std::atomic<bool> started(false);
    std::thread writer([&started] {
        std::ostream& out = LogStream::instance();
        ASSERT_FALSE(LogStream::startMessage(out, LogStream::EVENT, "LogFork", 1, false));
        out << "slow ";
        started = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        out << "message" << std::endl;
        LogStream::endMessage(out);
    });
    while (!started)
        std::this_thread::yield();

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        alarm(10);  // a hang ends the child with SIGALRM
        QEV_LOG(LogStream::EVENT, "LogFork") << "child " << getpid() << std::endl;
        _exit(LogStream::prefixSettings().processId == getpid() ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    writer.join();
    EXPECT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(log.lines(), (Lines{"EVENT: slow message", "EVENT: child " + std::to_string(pid)}));
}
