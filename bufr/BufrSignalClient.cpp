#include "BufrSignalClient.h"

#include <climits>
#include <csignal>

#include "renameNoReplace.h"

namespace {
volatile std::sig_atomic_t fileDisposed = 0;
}

BufrSignalClient* BufrSignalClient::instance()
{
    static BufrSignalClient client;
    return &client;
}

BufrSignalClient::BufrSignalClient() : _cleanShutdownHook(nullptr)
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
    buildPaths();
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
        if (!clean) {
            // A file of the same name already set aside stays: this one
            // takes the first free suffix.
            char used[PATH_MAX];
            renameToFreeName(_sourcePath.c_str(), _badPath.c_str(), used, sizeof used);
        }
    }
    SignalClient::terminate(clean, signal);
}
