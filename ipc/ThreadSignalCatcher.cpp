#include "ThreadSignalCatcher.h"

#include "LogStream.h"
#include "signalName.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Appends text to a fixed buffer without the stdio locks a faulting thread
// may hold.
void append(char* buffer, size_t size, size_t& used, const char* text)
{
    size_t n = std::strlen(text);
    if (n > size - 1 - used)
        n = size - 1 - used;
    std::memcpy(buffer + used, text, n);
    used += n;
    buffer[used] = '\0';
}

void appendNumber(char* buffer, size_t size, size_t& used, int value)
{
    char digits[16];
    int i = sizeof digits - 1;
    digits[i] = '\0';
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : value;
    do {
        digits[--i] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude && i > 1);
    if (value < 0)
        digits[--i] = '-';
    append(buffer, size, used, digits + i);
}

// The failure of a signal-mask call in the signal thread: fatal.
void maskFailed(int error, const char* what)
{
    errno = error;
    std::perror(what);
    std::exit(1);
}

} // namespace

ThreadSignalCatcher::ThreadSignalCatcher()
    : _threadRunning(false), _signalThread(), _mainThread(pthread_self())
{
}

bool ThreadSignalCatcher::startSignalThread()
{
    if (_threadRunning)
        return true;
    sigset_t* start = new sigset_t(waitedSignals());
    const int error = pthread_create(&_signalThread, nullptr, signalThread, start);
    if (error != 0) {
        delete start;
        QEV_LOG(LogStream::PROBLEM, "ThreadSignalCatcher")
            << "pthread_create() failed for the signal thread.  Reason: " << std::strerror(error)
            << std::endl;
        return false;
    }
    // Joinable: releaseChildSignal waits for a cancelled thread to end, so
    // that no signal sent after it returns can be taken by the old thread.
    _threadRunning = true;
    return true;
}

void* ThreadSignalCatcher::signalThread(void* start)
{
    const sigset_t signals = *static_cast<sigset_t*>(start);
    delete static_cast<sigset_t*>(start);
    sigset_t child;
    sigemptyset(&child);
    sigaddset(&child, SIGCHLD);
    for (;;) {
        int error = pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        if (error != 0)
            maskFailed(error, "FATAL ERROR: can't block the async signals");
        // Cancelled only while waiting: a signal taken is always delivered.
        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
        int signal = 0;
        error = sigwait(&signals, &signal);
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
        if (error != 0) {
            errno = error;
            std::perror("FATAL ERROR: sigwait failed");
            std::abort();
        }
        if (signal == SIGCHLD) {
            error = pthread_sigmask(SIG_UNBLOCK, &child, nullptr);
            if (error != 0)
                maskFailed(error, "FATAL ERROR: can't unblock SIGCHLD");
        }
        // As the handler: to the process's catcher while it exists (the
        // exit handlers delete it).
        if (SignalCatcher* catcher = SignalCatcher::existing())
            catcher->deliver(signal);
    }
    return nullptr;
}

void ThreadSignalCatcher::releaseChildSignal()
{
    if (!_threadRunning) {
        SignalCatcher::releaseChildSignal();
        return;
    }
    stopWaiting(SIGCHLD);
    const int error = pthread_cancel(_signalThread);
    if (error != 0) {
        QEV_LOG(LogStream::BUG, "ThreadSignalCatcher")
            << "pthread_cancel() failed.  Reason: " << std::strerror(error) << std::endl;
    } else {
        pthread_join(_signalThread, nullptr);
    }
    _threadRunning = false;
    startSignalThread();
}

void ThreadSignalCatcher::handleSignal(int signal)
{
    if (!isWaited(signal) && !pthread_equal(pthread_self(), _mainThread)) {
        if (signal == SIGPIPE)
            return;
        char line[160];
        size_t used = 0;
        line[0] = '\0';
        append(line, sizeof line, used, "Signal ");
        appendNumber(line, sizeof line, used, signal);
        append(line, sizeof line, used, " (");
        append(line, sizeof line, used, signalName(signal));
        append(line, sizeof line, used, ") received inside a thread for dirty shutdown\n");
        ssize_t ignored = write(STDERR_FILENO, line, used);
        (void)ignored;
        raise(SIGKILL);
        return;
    }
    SignalCatcher::handleSignal(signal);
}
