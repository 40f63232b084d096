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
    const std::string::size_type slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const SafeDirectory dir(directory);
    if (!dir.ok())
        return dir.failure().error;
    char used[PATH_MAX];
    const int error = renameToFreeNameAt(dir.fd(), name.c_str(), dir.fd(),
                                         (name + ".damaged").c_str(), used, sizeof used);
    if (error == 0)
        aside = (slash == std::string::npos ? "" : directory) + used;
    return error;
}
