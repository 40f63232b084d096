#include "SignalCatcher.h"

#include "LogStream.h"
#include "SignalClient.h"
#include "ThreadSignalCatcher.h"
#include "signalName.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Read by the handlers; set once the catcher is made, cleared when it goes.
SignalCatcher* volatile theCatcher = nullptr;

SignalClient* defaultClient()
{
    static SignalClient* client = new SignalClient;
    return client;
}

// QEV_DUMP_CORE read as a decimal number; text that is not a number is 0,
// an unset variable -1.
long dumpCoreMode()
{
    const char* value = std::getenv("QEV_DUMP_CORE");
    return value ? std::strtol(value, nullptr, 10) : -1;
}

extern "C" void fatalHandler(int signal)
{
    SignalCatcher* catcher = theCatcher;
    if (catcher) {
        catcher->handleSignal(signal);
        return;
    }
    // No catcher any more (the process is exiting): the system's action.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Set once a signal asking for a clean shutdown is caught.
volatile std::sig_atomic_t stopAsked = 0;

extern "C" void caughtHandler(int signal)
{
    if (signal == SIGINT || signal == SIGTERM || signal == SIGQUIT)
        stopAsked = 1;
    SignalCatcher* catcher = theCatcher;
    if (catcher)
        catcher->deliver(signal);
}

void destroyCatcher()
{
    SignalCatcher* catcher = theCatcher;
    theCatcher = nullptr;
    delete catcher;
}

} // namespace

SignalCatcher* SignalCatcher::instance()
{
    if (!theCatcher) {
        SignalCatcher* catcher = new ThreadSignalCatcher;
        theCatcher = catcher;
        catcher->installHandlers();
        std::atexit(destroyCatcher);
    }
    return theCatcher;
}

bool SignalCatcher::stopRequested()
{
    return stopAsked != 0;
}

SignalCatcher* SignalCatcher::existing()
{
    return theCatcher;
}

SignalCatcher::SignalCatcher() : _client(defaultClient()), _direct(false)
{
    sigemptyset(&_waited);
}

SignalCatcher::~SignalCatcher() {}

void SignalCatcher::setClient(SignalClient* client)
{
    _client = client ? client : defaultClient();
}

bool SignalCatcher::isWaited(int signal) const
{
    return signal > 0 && sigismember(&_waited, signal) == 1;
}

void SignalCatcher::deliver(int signal)
{
    if (_direct)
        handleSignal(signal);
    else
        _pipe.post(signal);
}

void SignalCatcher::stopWaiting(int signal)
{
    sigdelset(&_waited, signal);
}

ThreadSignalCatcher* SignalCatcher::threadSignalCatcher()
{
    return nullptr;
}

void SignalCatcher::releaseChildSignal()
{
    stopWaiting(SIGCHLD);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(SIGCHLD, &action, nullptr);
}

const int* SignalCatcher::fatalSignals()
{
    static const int standard[] = {SIGILL, SIGTRAP, -2, SIGFPE, SIGBUS, SIGSEGV, SIGPIPE, 0};
    static const int withAbort[] = {SIGILL, SIGTRAP, SIGABRT, -2,     SIGFPE,
                                    SIGBUS, SIGSEGV, SIGPIPE, 0};
    static const int pipeOnly[] = {SIGPIPE, 0};
    long mode = dumpCoreMode();
    return mode == 0 ? withAbort : mode == 1 ? pipeOnly : standard;
}

const int* SignalCatcher::caughtSignals()
{
    // With QEV_DUMP_CORE 1 the list ends before SIGQUIT.
    static const int caught[] = {SIGHUP,  SIGINT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2,
                                 SIGCHLD, -1,     SIGPROF, SIGURG,  SIGQUIT, 0};
    static const int withoutQuit[] = {SIGHUP,  SIGINT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2,
                                      SIGCHLD, -1,     SIGPROF, SIGURG,  0};
    return dumpCoreMode() == 1 ? withoutQuit : caught;
}

sigset_t SignalCatcher::caughtSignalSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int* s = caughtSignals(); *s; ++s) {
        if (*s > 0)
            sigaddset(&set, *s);
    }
    return set;
}

void SignalCatcher::installHandlers()
{
    struct sigaction action;
    for (const int* s = fatalSignals(); *s; ++s) {
        if (*s < 0)
            continue;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = fatalHandler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        if (sigaction(*s, &action, nullptr) != 0) {
            std::fprintf(stderr, "Cannot install handler for signal %d(%s)\n%s\n", *s,
                         signalName(*s), std::strerror(errno));
        }
    }
    // A write past the file size limit (RLIMIT_FSIZE) fails with EFBIG, as
    // one on a full disk fails with ENOSPC, instead of ending the process.
    std::memset(&action, 0, sizeof action);
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGXFSZ, &action, nullptr) != 0) {
        std::fprintf(stderr, "Cannot ignore signal %d(%s)\n%s\n", SIGXFSZ, signalName(SIGXFSZ),
                     std::strerror(errno));
    }
    // No SA_RESTART: a caught signal ends the main thread's wait.
    _waited = caughtSignalSet();
    int flags = 0;
    for (const int* s = caughtSignals(); *s; ++s) {
        if (*s == SIGCHLD)
            flags |= SA_NOCLDSTOP;
        if (*s < 0)
            continue;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = caughtHandler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = flags;
        if (sigaction(*s, &action, nullptr) != 0) {
            QEV_LOG(LogStream::PROBLEM, "SignalCatcher")
                << "Cannot install handler for signal " << *s << "(" << signalName(*s) << ")"
                << "\n"
                << std::strerror(errno) << std::endl;
        }
    }
}

void SignalCatcher::handleSignal(int signal)
{
    SignalClient* client = _client;
    switch (signal) {
    case SIGINT:
    case SIGQUIT:
    case SIGTERM:
        client->terminate(true, signal);
        break;
    case SIGILL:
    case SIGTRAP:
    case SIGABRT:
    case SIGBUS:
    case SIGFPE:
    case SIGSEGV:
    case -2:
        client->terminate(false, signal);
        break;
    case SIGHUP:
        client->reset();
        break;
    case SIGALRM:
        client->alarmSignal(0);
        break;
    case SIGPROF:
        client->alarmSignal(1);
        break;
    case SIGPIPE:
        client->ioSignal(0);
        break;
    case -1:
        client->ioSignal(1);
        break;
    case SIGCHLD:
        client->childSignal();
        break;
    case SIGURG:
        client->statsSignal();
        break;
    case SIGUSR1:
        SignalClient::breakLogFiles(client);
        break;
    case SIGUSR2:
        SignalClient::toggleLogFiltering(client);
        break;
    default:
        QEV_LOG(LogStream::BUG, "SignalCatcher")
            << "Unknown signal " << signal << " in SignalCatcher" << std::endl;
        break;
    }
}
