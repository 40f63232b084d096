#include "DirectoryLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <list>

namespace {

// One locked directory of this process.
struct LockedDirectory {
    dev_t device;
    ino_t inode;
    int fd;
    int users;
};

// Few entries (one per ingest directory); a list keeps their addresses.
// Never destroyed: locks are released by objects that static destructors
// delete at exit.
std::list<LockedDirectory>& lockedDirectories()
{
    static std::list<LockedDirectory>* locked = new std::list<LockedDirectory>;
    return *locked;
}

} // namespace

DirectoryLock::DirectoryLock() : _state(NOT_TRIED), _error(0), _replaced(false), _entry(nullptr)
{
}

DirectoryLock::~DirectoryLock()
{
    release();
}

DirectoryLock::State DirectoryLock::acquire(const TextString& directory)
{
    _replaced = false;
    if (_state == HELD) {
        // Still held while the name leads to it, or cannot be followed for
        // the moment: only a name that leads nowhere or elsewhere is news.
        const LockedDirectory* held = static_cast<const LockedDirectory*>(_entry);
        struct stat now;
        const bool found = stat(directory.c_str(), &now) == 0;
        if (found ? now.st_dev == held->device && now.st_ino == held->inode
                  : errno != ENOENT && errno != ENOTDIR)
            return _state;
        _replaced = true;
        release();
    }
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        _error = errno;
        if (fd >= 0)
            close(fd);
        return _state = UNAVAILABLE;
    }
    for (LockedDirectory& locked : lockedDirectories()) {
        if (locked.device == info.st_dev && locked.inode == info.st_ino) {
            close(fd);
            ++locked.users;
            _entry = &locked;
            return _state = HELD;
        }
    }
    int status;
    while ((status = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (status != 0) {
        _error = errno;
        close(fd);
        return _state = _error == EWOULDBLOCK ? BUSY : UNAVAILABLE;
    }
    lockedDirectories().push_back(LockedDirectory{info.st_dev, info.st_ino, fd, 1});
    _entry = &lockedDirectories().back();
    _error = 0;
    return _state = HELD;
}

void DirectoryLock::release()
{
    if (_state != HELD)
        return;
    std::list<LockedDirectory>& locked = lockedDirectories();
    for (auto it = locked.begin(); it != locked.end(); ++it) {
        if (&*it == _entry && --it->users == 0) {
            close(it->fd);
            locked.erase(it);
            break;
        }
    }
    _entry = nullptr;
    _state = NOT_TRIED;
}
