#include "SafeDirectory.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

int fail(SafeDirectory::Failure* failure, SafeDirectory::Refusal refusal, int error,
         size_t partEnd)
{
    failure->refusal = refusal;
    failure->error = error;
    failure->partEnd = partEnd;
    errno = error;
    return -1;
}

// Of this account or root: only they can have made it where others cannot
// write, and only they can replace it.
bool ownedHere(const struct stat& info)
{
    return info.st_uid == geteuid() || info.st_uid == 0;
}

// Whether accounts beside the directory's owner and root may add to it or
// take from it: its group or everybody may write it.
bool sharedForWriting(const struct stat& dir)
{
    return (dir.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Whether root or this account laid the link of status link in the
// directory of status dir.  Where group or others may write without the
// sticky bit anyone there may have put it: never.  Elsewhere it is the
// link's owner (in a sticky directory no one else but the directory's owner
// and root can take it away), or the directory's when only this account or
// root can write it.
bool linkLaidHere(const struct stat& dir, const struct stat& link)
{
    if (sharedForWriting(dir) && (dir.st_mode & S_ISVTX) == 0)
        return false;
    return ownedHere(link) || !SafeDirectory::othersCanWrite(dir);
}

// Reads the link at name in dirFd (of status dir) when root or this account
// laid it, from the link itself (an O_PATH descriptor), so that no link put
// in its place meanwhile is read instead.  The target's length (not
// terminated), 0 when name is no link, or -1 with errno set: ELOOP with
// refused set for a link laid by another account.
ssize_t readLaidLink(int dirFd, const struct stat& dir, const char* name, char* target,
                     size_t size, bool& refused)
{
    refused = false;
    const int fd = openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat link;
    ssize_t n = -1;
    int error = 0;
    if (fstat(fd, &link) != 0) {
        error = errno;
    } else if (!S_ISLNK(link.st_mode)) {
        n = 0;
    } else if (!linkLaidHere(dir, link)) {
        refused = true;
        error = ELOOP;
    } else {
        n = readlinkat(fd, "", target, size);
        error = n < 0 ? errno : 0;
    }
    close(fd);
    errno = error;
    return n;
}

// Opens "/" or the working directory, where a walk starts.
int openStart(bool absolute, struct stat& info)
{
    const int fd = open(absolute ? "/" : ".", DIRECTORY_FLAGS);
    if (fd >= 0 && fstat(fd, &info) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// openPath over path[0, length).
int walk(const char* path, size_t length, mode_t makeMode, SafeDirectory::Failure* failure,
         bool othersDirectories = false)
{
    using F = SafeDirectory;
    if (length == 0)
        return fail(failure, F::SYSTEM, ENOENT, 0);
    if (length >= PATH_MAX)
        return fail(failure, F::SYSTEM, ENAMETOOLONG, length);
    // The parts still to open: those of the caller's path and, after a link,
    // the link's target before them.  What is left of the caller's path is
    // always the end of rest (its last originalLeft bytes).
    char rest[PATH_MAX];
    std::memcpy(rest, path, length);
    rest[length] = '\0';
    size_t restLength = length, at = 0, originalLeft = length;
    int links = 0;
    struct stat dir;
    int fd = openStart(path[0] == '/', dir);
    if (fd < 0)
        return fail(failure, F::SYSTEM, errno, 0);
    for (;;) {
        while (at < restLength && rest[at] == '/')
            ++at;
        if (at == restLength)
            return fd;
        size_t end = at;
        while (end < restLength && rest[end] != '/')
            ++end;
        // Where the part ends in the caller's path; a part of a link's
        // target is the link's.
        const size_t partEnd = at >= restLength - originalLeft ? length - (restLength - end)
                                                               : length - originalLeft;
        char part[NAME_MAX + 1];
        if (end - at > NAME_MAX) {
            close(fd);
            return fail(failure, F::SYSTEM, ENAMETOOLONG, partEnd);
        }
        std::memcpy(part, rest + at, end - at);
        part[end - at] = '\0';
        at = end;
        if (std::strcmp(part, ".") == 0)
            continue;

        bool made = false;
        int child = openat(fd, part, DIRECTORY_FLAGS | O_NOFOLLOW);
        if (child < 0 && errno == ENOENT && makeMode != 0) {
            made = mkdirat(fd, part, makeMode) == 0;
            // Another process making it at the same moment is no failure.
            if (made || errno == EEXIST)
                child = openat(fd, part, DIRECTORY_FLAGS | O_NOFOLLOW);
        }
        if (child < 0) {
            int error = errno;
            char target[PATH_MAX];
            bool refused = false;
            // O_NOFOLLOW with O_DIRECTORY fails on a link as on a file.
            const ssize_t n = error == ENOTDIR
                                  ? readLaidLink(fd, dir, part, target, sizeof target, refused)
                                  : 0;
            if (refused) {
                close(fd);
                return fail(failure, F::LINK, ELOOP, partEnd);
            }
            if (n < 0) {
                error = errno;
            } else if (n > 0) {
                // Laid by this account or root: its target is walked in
                // place of the link.
                const size_t after = restLength - end;
                if (++links > F::MAX_LINKS)
                    error = ELOOP;
                else if (static_cast<size_t>(n) + after >= PATH_MAX)
                    error = ENAMETOOLONG;
                else
                    error = 0;
                if (error == 0 && target[0] == '/') {
                    close(fd);
                    fd = openStart(true, dir);
                    if (fd < 0)
                        return fail(failure, F::SYSTEM, errno, partEnd);
                }
                if (error == 0) {
                    if (after < originalLeft)
                        originalLeft = after;
                    std::memmove(rest + n, rest + end, after + 1);
                    std::memcpy(rest, target, static_cast<size_t>(n));
                    restLength = static_cast<size_t>(n) + after;
                    at = 0;
                    continue;
                }
            }
            close(fd);
            return fail(failure, F::SYSTEM, error, partEnd);
        }
        struct stat info;
        F::Refusal refusal = F::NONE;
        int error = 0;
        if (fstat(child, &info) != 0) {
            refusal = F::SYSTEM;
            error = errno;
        } else if (!othersDirectories && std::strcmp(part, "..") != 0 && sharedForWriting(dir) &&
                   !ownedHere(info)) {
            // Another account's directory where it, or anyone, may have
            // swapped it in.  Where only the directory's owner can write,
            // what lies in it is that owner's doing (an installation's
            // account whose tree holds this account's directories).
            refusal = F::FOREIGN_OWNER;
            error = EPERM;
        } else if (made && fchmod(child, makeMode) != 0) {
            // Made by this process, so its mode is this process's to give.
            refusal = F::SYSTEM;
            error = errno;
        }
        close(fd);
        if (refusal != F::NONE) {
            close(child);
            return fail(failure, refusal, error, partEnd);
        }
        fd = child;
        dir = info;
    }
}

} // namespace

bool SafeDirectory::othersCanWrite(const struct stat& directory)
{
    return (directory.st_mode & (S_IWGRP | S_IWOTH)) != 0 || !ownedHere(directory);
}

int SafeDirectory::openPath(const char* path, mode_t makeMode, Failure* failure)
{
    Failure ignored;
    return walk(path, std::strlen(path), makeMode, failure ? failure : &ignored);
}

int SafeDirectory::openOthersPath(const char* path, Failure* failure)
{
    Failure ignored;
    return walk(path, std::strlen(path), 0, failure ? failure : &ignored, true);
}

int SafeDirectory::openParent(const char* path, size_t* nameAt, mode_t makeMode,
                              Failure* failure)
{
    Failure ignored;
    if (!failure)
        failure = &ignored;
    const char* slash = std::strrchr(path, '/');
    size_t at = 0;
    int fd;
    if (!slash) {
        fd = walk(".", 1, makeMode, failure);
    } else {
        at = static_cast<size_t>(slash - path) + 1;
        fd = walk(path, at == 1 ? 1 : at - 1, makeMode, failure);
    }
    if (nameAt)
        *nameAt = at;
    return fd;
}

int SafeDirectory::openFileAt(int dirFd, const char* name, int flags, mode_t mode,
                              FileCheck check, Failure* failure)
{
    Failure ignored;
    if (!failure)
        failure = &ignored;
    const size_t partEnd = failure->partEnd;
    struct stat info, dir;
    // A file is emptied only once it has passed the checks.
    const int opening = (flags & ~O_TRUNC) | O_CLOEXEC;
    int fd = openat(dirFd, name, opening | O_NOFOLLOW, mode);
    if (fd < 0 && errno == ELOOP && check == READ_FILE && fstat(dirFd, &dir) == 0) {
        // A link laid by this account or root is read through, from the
        // link's directory as the system would.
        char target[PATH_MAX];
        bool refused = false;
        const ssize_t n = readLaidLink(dirFd, dir, name, target, sizeof target, refused);
        if (n >= static_cast<ssize_t>(sizeof target)) {
            errno = ENAMETOOLONG;
        } else if (n > 0) {
            target[n] = '\0';
            fd = openat(dirFd, target, opening, mode);
        } else if (n == 0 || refused) {
            errno = ELOOP;
        }
    }
    if (fd < 0)
        return fail(failure, SYSTEM, errno, partEnd);
    Refusal refusal = NONE;
    int error = 0;
    const bool strict = check == OWN_FILE;
    if (fstat(fd, &info) != 0 || (!strict && fstat(dirFd, &dir) != 0)) {
        refusal = SYSTEM;
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        refusal = NOT_REGULAR;
        error = EINVAL;
    } else if (check == READ_FILE) {
        // Read only: whose it is and its other names change nothing.
    } else if ((strict || othersCanWrite(dir)) &&
               (strict ? info.st_uid != geteuid() : !ownedHere(info))) {
        refusal = OTHER_OWNER;
        error = EPERM;
    } else if ((strict || othersCanWrite(dir)) && info.st_nlink != 1) {
        refusal = OTHER_NAMES;
        error = EMLINK;
    }
    if (refusal == NONE && (flags & O_TRUNC) && ftruncate(fd, 0) != 0) {
        refusal = SYSTEM;
        error = errno;
    }
    if (refusal == NONE)
        return fd;
    close(fd);
    return fail(failure, refusal, error, partEnd);
}

const char* SafeDirectory::reasonText(const Failure& failure)
{
    switch (failure.refusal) {
    case NONE:
        return "no failure";
    case SYSTEM:
        return std::strerror(failure.error);
    case LINK:
        return "a symbolic link in a directory other users can write";
    case FOREIGN_OWNER:
        return "a directory of another user in a directory other users can write";
    case NOT_REGULAR:
        return "not a regular file";
    case OTHER_OWNER:
        return "owned by another user";
    case OTHER_NAMES:
        return "the file has other names";
    }
    return "refused";
}

SafeDirectory::SafeDirectory(const std::string& path, mode_t makeMode)
    : _path(path), _failure(), _fd(openPath(path.c_str(), makeMode, &_failure))
{
}

SafeDirectory::SafeDirectory(const std::string& path, Entering entering)
    : _path(path), _failure(),
      _fd(entering == OTHERS_DIRECTORIES ? openOthersPath(path.c_str(), &_failure)
                                         : openPath(path.c_str(), 0, &_failure))
{
}

SafeDirectory::~SafeDirectory()
{
    if (_fd >= 0)
        close(_fd);
}

std::string SafeDirectory::failureText() const
{
    const size_t end = _failure.partEnd > 0 ? _failure.partEnd : _path.size();
    return _path.substr(0, end) + ": " + reasonText(_failure);
}

int SafeDirectory::openFile(const std::string& path, int flags, mode_t mode, FileCheck check,
                            std::string& why)
{
    Failure failure;
    size_t nameAt = 0;
    const int dir = openParent(path.c_str(), &nameAt, 0, &failure);
    if (dir < 0) {
        const size_t end = failure.partEnd > 0 ? failure.partEnd : path.size();
        why = path.substr(0, end) + ": " + reasonText(failure);
        errno = failure.error;
        return -1;
    }
    const int fd = openFileAt(dir, path.c_str() + nameAt, flags, mode, check, &failure);
    close(dir);
    if (fd < 0) {
        why = path + ": " + reasonText(failure);
        errno = failure.error;
    }
    return fd;
}
