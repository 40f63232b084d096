#include "BufrSignalClient.h"

#include <sys/stat.h>

#include <climits>
#include <csignal>
#include <cstring>

#include "SafeDirectory.h"
#include "renameNoReplace.h"

#include <fcntl.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t fileDisposed = 0;
}

BufrSignalClient* BufrSignalClient::instance()
{
    static BufrSignalClient client;
    return &client;
}

BufrSignalClient::BufrSignalClient()
    : _entryName(false), _sourceFd(-1), _identityKnown(false), _device(0), _inode(0),
      _cleanShutdownHook(nullptr)
{
    buildPaths();
}

BufrSignalClient::~BufrSignalClient() {}

void BufrSignalClient::setDirectories(const TextString& sourceDir, const TextString& badDir)
{
    _sourceDir = sourceDir;
    _badDir = badDir;
    buildPaths();
}

void BufrSignalClient::setFileName(const TextString& fileName)
{
    _fileName = fileName;
    const char* name = _fileName.c_str();
    _entryName = _fileName.length() > 0 && std::strcmp(name, ".") != 0 &&
                 std::strcmp(name, "..") != 0 && std::strchr(name, '/') == nullptr;
    _identityKnown = false;
    buildPaths();
}

void BufrSignalClient::setFileIdentity(dev_t device, ino_t inode)
{
    _device = device;
    _inode = inode;
    _identityKnown = true;
}

bool BufrSignalClient::mayMoveFile() const
{
    if (!_entryName || _sourceDir.length() == 0)
        return false;
    const int dir = _sourceFd >= 0 ? _sourceFd : AT_FDCWD;
    const char* name = _sourceFd >= 0 ? _fileName.c_str() : _sourcePath.c_str();
    struct stat entry;
    if (fstatat(dir, name, &entry, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    struct stat file = entry;
    if (S_ISLNK(entry.st_mode) && fstatat(dir, name, &file, 0) != 0)
        return false;
    if (!S_ISREG(file.st_mode))
        return false;
    return !_identityKnown || (file.st_dev == _device && file.st_ino == _inode);
}

void BufrSignalClient::buildPaths()
{
    _sourcePath = _sourceDir + "/" + _fileName;
    _badPath = _badDir + "/" + _fileName;
}

void BufrSignalClient::terminate(bool clean, int signal)
{
    if (clean && _cleanShutdownHook && !SignalClient::terminating()) {
        void (*hook)() = _cleanShutdownHook;
        _cleanShutdownHook = nullptr;
        hook();
    }
    if (!fileDisposed) {
        fileDisposed = 1;
        if (!clean && mayMoveFile()) {
            // A file of the same name already set aside stays: this one
            // takes the first free suffix.
            SafeDirectory::Failure failure;
            const int source = _sourceFd >= 0
                                   ? _sourceFd
                                   : SafeDirectory::openOthersPath(_sourceDir.c_str(), &failure);
            const int bad = SafeDirectory::openOthersPath(_badDir.c_str(), &failure);
            char used[PATH_MAX];
            if (source >= 0 && bad >= 0)
                renameToFreeNameAt(source, _fileName.c_str(), bad, _fileName.c_str(), used,
                                   sizeof used);
            if (bad >= 0)
                close(bad);
            if (source >= 0 && source != _sourceFd)
                close(source);
        }
    }
    SignalClient::terminate(clean, signal);
}
