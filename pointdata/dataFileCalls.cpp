#include "dataFileCalls.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Writes all n bytes, going on after interruptions and partial writes.
bool writeAll(int fd, const char* data, ssize_t n)
{
    while (n > 0) {
        ssize_t done = write(fd, data, static_cast<size_t>(n));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += done;
        n -= done;
    }
    return true;
}

} // namespace

bool copyWholeFile(const char* from, const char* to)
{
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        close(in);
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
        if (!writeAll(out, buffer, n)) {
            ok = false;
            break;
        }
    }
    close(in);
    if (fsync(out) != 0)
        ok = false;
    if (close(out) != 0)
        ok = false;
    if (!ok)
        unlink(to);
    return ok;
}

int renameNoReplace(const char* from, const char* to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without an exclusive rename: a new link fails when the
    // name exists.
    if (link(from, to) != 0)
        return errno;
    unlink(from);
    return 0;
}
