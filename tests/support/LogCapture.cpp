#include "LogCapture.h"

#include "TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace {

void flushStandardError()
{
    std::cerr.flush();
    std::clog.flush();
    fflush(stderr);
}

} // namespace

LogCapture::LogCapture() : _savedFd(-1), _captureFd(-1)
{
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qevlog.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    _captureFd = mkstemp(buf.data());
    if (_captureFd < 0)
        throw std::runtime_error("LogCapture: mkstemp failed: " + std::string(strerror(errno)));
    _path = buf.data();
    // Appending, so that clear() (truncation) makes the next write start at 0.
    fcntl(_captureFd, F_SETFL, fcntl(_captureFd, F_GETFL) | O_APPEND);

    flushStandardError();
    _savedFd = dup(STDERR_FILENO);
    if (_savedFd < 0 || dup2(_captureFd, STDERR_FILENO) < 0) {
        int err = errno;
        if (_savedFd >= 0)
            close(_savedFd);
        close(_captureFd);
        unlink(_path.c_str());
        throw std::runtime_error("LogCapture: redirecting standard error failed: " +
                                 std::string(strerror(err)));
    }
}

LogCapture::~LogCapture()
{
    const std::string captured = ::testing::Test::HasFailure() ? text() : std::string();
    flushStandardError();
    dup2(_savedFd, STDERR_FILENO);
    // A failed test shows what it logged.
    if (!captured.empty()) {
        std::cerr << "--- standard error captured by LogCapture ---\n"
                  << captured << "--- end of captured standard error ---" << std::endl;
    }
    close(_savedFd);
    close(_captureFd);
    unlink(_path.c_str());
}

std::string LogCapture::text() const
{
    flushStandardError();
    return TempTree::readFile(_path);
}

std::vector<std::string> LogCapture::lines() const
{
    std::vector<std::string> out;
    std::istringstream in(text());
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

bool LogCapture::contains(const std::string& part) const
{
    return text().find(part) != std::string::npos;
}

int LogCapture::count(const std::string& part) const
{
    int n = 0;
    for (const std::string& line : lines())
        if (line.find(part) != std::string::npos)
            ++n;
    return n;
}

void LogCapture::clear()
{
    flushStandardError();
    if (ftruncate(_captureFd, 0) != 0)
        throw std::runtime_error("LogCapture: truncation failed: " + std::string(strerror(errno)));
}
