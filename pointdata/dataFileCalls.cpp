#include "dataFileCalls.h"

#include "renameNoReplace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

bool writeAll(int fd, const char* data, size_t n)
{
    while (n > 0) {
        ssize_t done = write(fd, data, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = ENOSPC;
            return false;
        }
        data += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

bool copyWholeFile(const char* from, const char* to)
{
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    // The copy is a file of the process's own: a link planted at its name
    // is not followed (its target would be truncated).
    int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (out < 0) {
        const int error = errno;
        close(in);
        errno = error;
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!writeAll(out, buffer, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    int error = ok ? 0 : errno;
    close(in);
    if (fsync(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (close(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(to);
        errno = error;
    }
    return ok;
}

int keepDamaged(const std::string& path, std::string& aside)
{
    std::vector<char> used(path.size() + 64);
    const int error =
        renameToFreeName(path.c_str(), (path + ".damaged").c_str(), used.data(), used.size());
    if (error == 0)
        aside = used.data();
    return error;
}
