// The calls defined here replace the system's own: no inline wrapper of
// theirs may be in the way.
#undef _FORTIFY_SOURCE

#include "IoFaults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

struct Rule {
    IoFaults::Call call;
    std::string suffix;
    int error;
    int count;
    int skip;
};

struct State {
    std::vector<Rule> rules;
    std::string watched;
    std::set<long long> pages;
    int failed = 0;
};

State& state()
{
    static State* s = new State();
    return *s;
}

// Whether anything is to be checked: the calls pass at once otherwise.
bool armed = false;

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The path of an open descriptor; errno as it was.
std::string pathOf(int fd)
{
    const int saved = errno;
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target);
    errno = saved;
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// The error a rule gives this call, 0 when it passes.
int ruling(IoFaults::Call call, const std::string& path)
{
    for (Rule& r : state().rules) {
        if (r.call != call || !endsWith(path, r.suffix))
            continue;
        if (r.skip > 0) {
            --r.skip;
            continue;
        }
        if (r.count == 0)
            continue;
        if (r.count > 0)
            --r.count;
        ++state().failed;
        return r.error;
    }
    return 0;
}

int rulingFd(IoFaults::Call call, int fd)
{
    return armed ? ruling(call, pathOf(fd)) : 0;
}

void noteWrite(int fd, long long offset, size_t n)
{
    if (!armed || state().watched.empty() || n == 0 || !endsWith(pathOf(fd), state().watched))
        return;
    for (long long p = offset / IoFaults::PAGE; p <= (offset + static_cast<long long>(n) - 1) /
                                                         IoFaults::PAGE;
         ++p)
        state().pages.insert(p);
}

template <class F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

namespace IoFaults {

void fail(Call call, const std::string& suffix, int error, int count, int skip)
{
    state().rules.push_back(Rule{call, suffix, error, count, skip});
    armed = true;
}

void clear()
{
    state().rules.clear();
    state().watched.clear();
    state().pages.clear();
    state().failed = 0;
    armed = false;
}

int failed() { return state().failed; }

void watch(const std::string& suffix)
{
    state().watched = suffix;
    state().pages.clear();
    armed = true;
}

std::set<long long> pagesWritten() { return state().pages; }

std::string crashState(const std::string& synced, const std::string& atFailure,
                       const std::string& now, const std::set<long long>& writtenSince)
{
    std::string disk = now;
    const auto page = [](const std::string& bytes, size_t at) {
        std::string p = at < bytes.size() ? bytes.substr(at, PAGE) : std::string();
        return p + std::string(PAGE - p.size(), '\0');
    };
    for (size_t at = 0; at < now.size(); at += PAGE) {
        const long long p = static_cast<long long>(at) / PAGE;
        if (page(synced, at) == page(atFailure, at) || writtenSince.count(p))
            continue;
        disk.replace(at, std::min<size_t>(PAGE, now.size() - at), page(synced, at), 0,
                     std::min<size_t>(PAGE, now.size() - at));
    }
    return disk;
}

} // namespace IoFaults

// The calls themselves.
extern "C" {

int openat(int dirFd, const char* path, int flags, ...)
{
    static auto next = real<int (*)(int, const char*, int, ...)>("openat");
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (armed) {
        if (const int error = ruling(IoFaults::OPEN, path)) {
            errno = error;
            return -1;
        }
    }
    return next(dirFd, path, flags, mode);
}

ssize_t read(int fd, void* buffer, size_t n)
{
    static auto next = real<ssize_t (*)(int, void*, size_t)>("read");
    if (const int error = rulingFd(IoFaults::READ, fd)) {
        errno = error;
        return -1;
    }
    return next(fd, buffer, n);
}

ssize_t write(int fd, const void* buffer, size_t n)
{
    static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    if (const int error = rulingFd(IoFaults::WRITE, fd)) {
        errno = error;
        return -1;
    }
    if (!armed || state().watched.empty())
        return next(fd, buffer, n);
    const int saved = errno;
    const long long offset = lseek(fd, 0, SEEK_CUR);
    errno = saved;
    const ssize_t written = next(fd, buffer, n);
    if (written > 0 && offset >= 0) {
        const int kept = errno;
        noteWrite(fd, (fcntl(fd, F_GETFL) & O_APPEND) ? lseek(fd, 0, SEEK_CUR) - written : offset,
                  static_cast<size_t>(written));
        errno = kept;
    }
    return written;
}

ssize_t pwrite(int fd, const void* buffer, size_t n, off_t offset)
{
    static auto next = real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (const int error = rulingFd(IoFaults::WRITE, fd)) {
        errno = error;
        return -1;
    }
    const ssize_t written = next(fd, buffer, n, offset);
    if (written > 0)
        noteWrite(fd, offset, static_cast<size_t>(written));
    return written;
}

int fsync(int fd)
{
    static auto next = real<int (*)(int)>("fsync");
    if (const int error = rulingFd(IoFaults::SYNC, fd)) {
        errno = error;
        return -1;
    }
    return next(fd);
}

int fdatasync(int fd)
{
    static auto next = real<int (*)(int)>("fdatasync");
    if (const int error = rulingFd(IoFaults::SYNC, fd)) {
        errno = error;
        return -1;
    }
    return next(fd);
}

} // extern "C"
