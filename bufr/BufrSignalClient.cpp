#include "BufrSignalClient.h"

#include <csignal>
#include <cstdio>

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
        if (!clean)
            std::rename(_sourcePath.c_str(), _badPath.c_str());
    }
    SignalClient::terminate(clean, signal);
}
