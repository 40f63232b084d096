#include "DiskCommit.h"

#include "LogStream.h"
#include "LogText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#define COMMIT_LOG(category) QEV_LOG(LogStream::category, "DiskCommit")

namespace {

struct Noted {
    DiskCommit::Kind kind;
    dev_t device;
    ino_t inode;
    int fd;
    std::string path;
    const void* owner;
};

std::vector<Noted>& noted()
{
    static std::vector<Noted> files;
    return files;
}

struct NotedStep {
    const void* owner;
    DiskCommit::Step step;
};

std::vector<NotedStep>& steps()
{
    static std::vector<NotedStep> all;
    return all;
}

// Whether a file of that kind and identity is noted already.
bool isNoted(DiskCommit::Kind kind, dev_t device, ino_t inode)
{
    for (const Noted& file : noted())
        if (file.kind == kind && file.device == device && file.inode == inode)
            return true;
    return false;
}

struct OwnerHandler {
    const void* owner;
    DiskCommit::FailureHandler handler;
};

std::vector<OwnerHandler>& handlers()
{
    static std::vector<OwnerHandler> all;
    return all;
}

// Tells the owner of a file whose sync failed.
void tellOwner(const void* owner, dev_t device, ino_t inode)
{
    if (!owner)
        return;
    // A copy: the handler may set handlers of its own.
    DiskCommit::FailureHandler handler;
    for (const OwnerHandler& h : handlers())
        if (h.owner == owner)
            handler = h.handler;
    if (handler)
        handler(device, inode);
}

// The first failure since the last commit, for the commit to give.
std::string& failure()
{
    static std::string why;
    return why;
}

unsigned theGeneration = 1;

// fdatasync for a file, fsync for a directory (its entries are its data).
bool syncNow(DiskCommit::Kind kind, int fd)
{
    int result;
    do {
        result = kind == DiskCommit::DIRECTORY ? fsync(fd) : fdatasync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

// Syncs one noted file, logging and keeping a failure and telling its
// owner; the descriptor stays open.
bool syncNoted(const Noted& file)
{
    const bool ok = syncNow(file.kind, file.fd);
    if (!ok) {
        DiskCommit::noteFailure(file.path, errno);
        tellOwner(file.owner, file.device, file.inode);
    }
    return ok;
}

} // namespace

void DiskCommit::noteFailure(const std::string& path, int error)
{
    COMMIT_LOG(PROBLEM) << "Could not sync " << LogText(path) << ": " << std::strerror(error)
                        << std::endl;
    if (failure().empty())
        failure() = "Could not sync " + path + ": " + std::strerror(error);
}

void DiskCommit::note(Kind kind, int fd, const std::string& path, const void* owner)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        noteFailure(path, errno);
        tellOwner(owner, 0, 0);
        return;
    }
    if (isNoted(kind, st.st_dev, st.st_ino))
        return;
    std::vector<Noted>& files = noted();
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        // No descriptor to keep: the file is synced now instead.
        syncNoted(Noted{kind, st.st_dev, st.st_ino, fd, path, owner});
        return;
    }
    if (static_cast<int>(files.size()) >= MAX_NOTED) {
        syncNoted(files.front());
        close(files.front().fd);
        files.erase(files.begin());
    }
    files.push_back(Noted{kind, st.st_dev, st.st_ino, copy, path, owner});
}

void DiskCommit::onFailure(const void* owner, FailureHandler handler)
{
    for (OwnerHandler& h : handlers()) {
        if (h.owner == owner) {
            h.handler = std::move(handler);
            return;
        }
    }
    handlers().push_back(OwnerHandler{owner, std::move(handler)});
}

bool DiskCommit::commit(std::string& why)
{
    std::vector<Noted> files;
    files.swap(noted());
    std::stable_sort(files.begin(), files.end(),
                     [](const Noted& a, const Noted& b) { return a.kind < b.kind; });
    std::vector<Noted> again;
    for (const Noted& file : files) {
        // A directory whose sync failed is synced again by the next commit.
        if (!syncNoted(file) && file.kind == DIRECTORY)
            again.push_back(file);
        else
            close(file.fd);
    }
    // What follows the data files only when they are all on the disk.
    std::vector<NotedStep> after;
    after.swap(steps());
    if (failure().empty())
        for (const NotedStep& s : after)
            s.step();
    ++theGeneration;
    why.swap(failure());
    failure().clear();
    for (const Noted& directory : again) {
        if (isNoted(DIRECTORY, directory.device, directory.inode))
            close(directory.fd);
        else
            noted().push_back(directory);
    }
    return why.empty();
}

void DiskCommit::noteStep(const void* owner, Step step)
{
    for (NotedStep& s : steps()) {
        if (s.owner == owner) {
            s.step = std::move(step);
            return;
        }
    }
    steps().push_back(NotedStep{owner, std::move(step)});
}

void DiskCommit::forget(const void* owner)
{
    std::vector<NotedStep>& all = steps();
    all.erase(std::remove_if(all.begin(), all.end(),
                             [owner](const NotedStep& s) { return s.owner == owner; }),
              all.end());
    std::vector<OwnerHandler>& told = handlers();
    told.erase(std::remove_if(told.begin(), told.end(),
                              [owner](const OwnerHandler& h) { return h.owner == owner; }),
               told.end());
    // Its files are still synced, its failures no longer told.
    for (Noted& file : noted())
        if (file.owner == owner)
            file.owner = nullptr;
}

bool DiskCommit::pending()
{
    return !noted().empty() || !steps().empty() || !failure().empty();
}

unsigned DiskCommit::generation()
{
    return theGeneration;
}
