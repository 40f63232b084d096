// A program started as a child of a test, its standard output and error in a
// log file, with the test's environment (TempTree's folders).  A child still
// running at the end is killed; a sanitizer report in its log fails the test.
#ifndef DECODERCHILD_H
#define DECODERCHILD_H

#include "TempTree.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class DecoderChild {
public:
    DecoderChild(const std::string& program, std::vector<std::string> args, std::string logPath)
        : _logPath(std::move(logPath))
    {
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, _logPath.c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0)
            << program;
        posix_spawn_file_actions_destroy(&actions);
        _pid = pid > 0 ? pid : -1;
    }
    ~DecoderChild()
    {
        if (signal(SIGKILL) == 0)
            waitpid(_pid, nullptr, 0);
        for (const char* report :
             {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error: "})
            EXPECT_EQ(log().find(report), std::string::npos) << log();
    }

    pid_t pid() const { return _pid; }
    // kill() for the child alone: a child that was never started or has
    // been reaped is signalled as none (-1, ESRCH), never as the pid -1 or
    // 0 (every process the tests may signal, as root the whole machine).
    int signal(int sig) const
    {
        if (_pid <= 0 || _status != -1) {
            errno = ESRCH;
            return -1;
        }
        return kill(_pid, sig);
    }
    std::string log() const { return TempTree::readFile(_logPath); }
    // The exit code once the child has exited (-1 while it runs or when a
    // signal ended it).
    int waitExit(int timeoutMs)
    {
        if (_pid > 0)
            waitUntil(timeoutMs, [this] { return waitpid(_pid, &_status, WNOHANG) == _pid; });
        return _status != -1 && WIFEXITED(_status) ? WEXITSTATUS(_status) : -1;
    }
    bool waitForLog(const std::string& text, int timeoutMs) const
    {
        return waitUntil(timeoutMs, [&] { return log().find(text) != std::string::npos; });
    }
    // Until the main thread has been blocked (state S, as in the event wait)
    // for several looks in a row.
    bool waitAsleep(int timeoutMs) const
    {
        int looks = 0;
        return waitUntil(timeoutMs, [&] {
            const std::string stat = TempTree::readFile("/proc/" + std::to_string(_pid) + "/stat");
            const size_t end = stat.rfind(") ");
            looks = end != std::string::npos && stat.compare(end + 2, 1, "S") == 0 ? looks + 1 : 0;
            return looks >= 5;
        });
    }

private:
    static bool waitUntil(int timeoutMs, const std::function<bool()>& done)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            if (std::chrono::steady_clock::now() >= end)
                return false;
        return true;
    }

    std::string _logPath;
    pid_t _pid = -1;
    int _status = -1;
};

#endif
