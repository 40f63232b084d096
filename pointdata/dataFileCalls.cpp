#include "dataFileCalls.h"

#include "SafeDirectory.h"
#include "renameNoReplace.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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

bool copyWholeFile(int dirFd, const std::string& directory, const char* from, const char* to,
                   std::string& why)
{
    SafeDirectory::Failure failure;
    const int in = SafeDirectory::openFileAt(dirFd, from, O_RDONLY | O_NONBLOCK, 0,
                                             SafeDirectory::READ_FILE, &failure);
    if (in < 0) {
        why = directory + "/" + from + ": " + SafeDirectory::reasonText(failure);
        return false;
    }
    const int out = SafeDirectory::openFileAt(dirFd, to, O_WRONLY | O_CREAT | O_TRUNC, 0666,
                                              SafeDirectory::REGULAR_FILE, &failure);
    if (out < 0) {
        why = directory + "/" + to + ": " + SafeDirectory::reasonText(failure);
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
        unlinkat(dirFd, to, 0);
        why = directory + "/" + to + ": " + strerror(error);
    }
    return ok;
}

int keepDamaged(const std::string& path, std::string& aside)
{
    size_t nameAt = 0;
    SafeDirectory::Failure failure;
    const int dir = SafeDirectory::openParent(path.c_str(), &nameAt, 0, &failure);
    if (dir < 0)
        return failure.error;
    const std::string name = path.substr(nameAt);
    char used[PATH_MAX];
    const int error = renameToFreeNameAt(dir, name.c_str(), dir, (name + ".damaged").c_str(),
                                         used, sizeof used);
    close(dir);
    if (error == 0)
        aside = path.substr(0, nameAt) + used;
    return error;
}
