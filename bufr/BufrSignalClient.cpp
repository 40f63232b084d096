#include "BufrSignalClient.h"

#include <sys/stat.h>

#include <climits>
#include <csignal>
#include <cstring>

#include "renameNoReplace.h"

namespace {
volatile std::sig_atomic_t fileDisposed = 0;
}

BufrSignalClient* BufrSignalClient::instance()
{
    static BufrSignalClient client;
    return &client;
}

BufrSignalClient::BufrSignalClient()
    : _entryName(false), _identityKnown(false), _device(0), _inode(0),
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
    struct stat entry;
    if (lstat(_sourcePath.c_str(), &entry) != 0)
        return false;
    struct stat file = entry;
    if (S_ISLNK(entry.st_mode) && stat(_sourcePath.c_str(), &file) != 0)
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
            char used[PATH_MAX];
            renameToFreeName(_sourcePath.c_str(), _badPath.c_str(), used, sizeof used);
        }
    }
    SignalClient::terminate(clean, signal);
}
