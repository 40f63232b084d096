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

// Syncs one noted file, logging and keeping a failure; closes it.
bool syncNoted(const Noted& file)
{
    const bool ok = syncNow(file.kind, file.fd);
    if (!ok)
        DiskCommit::noteFailure(file.path, errno);
    close(file.fd);
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

void DiskCommit::note(Kind kind, int fd, const std::string& path)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        noteFailure(path, errno);
        return;
    }
    std::vector<Noted>& files = noted();
    for (const Noted& file : files)
        if (file.kind == kind && file.device == st.st_dev && file.inode == st.st_ino)
            return;
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        // No descriptor to keep: the file is synced now instead.
        if (!syncNow(kind, fd))
            noteFailure(path, errno);
        return;
    }
    if (static_cast<int>(files.size()) >= MAX_NOTED) {
        syncNoted(files.front());
        files.erase(files.begin());
    }
    files.push_back(Noted{kind, st.st_dev, st.st_ino, copy, path});
}

bool DiskCommit::commit(std::string& why)
{
    std::vector<Noted> files;
    files.swap(noted());
    std::stable_sort(files.begin(), files.end(),
                     [](const Noted& a, const Noted& b) { return a.kind < b.kind; });
    for (const Noted& file : files)
        syncNoted(file);
    // What follows the data files only when they are all on the disk.
    std::vector<NotedStep> after;
    after.swap(steps());
    if (failure().empty())
        for (const NotedStep& s : after)
            s.step();
    ++theGeneration;
    why.swap(failure());
    failure().clear();
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
}

bool DiskCommit::pending()
{
    return !noted().empty() || !steps().empty() || !failure().empty();
}

unsigned DiskCommit::generation()
{
    return theGeneration;
}
