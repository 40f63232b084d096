#include "SignalPipe.h"

#include "EventDispatcher.h"
#include "LogStream.h"
#include "SignalCatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

SignalPipe::SignalPipe() : _readEnd(-1), _writeEnd(-1)
{
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        _readEnd = ends[0];
        _writeEnd = ends[1];
    } else {
        QEV_LOG(LogStream::BUG, "SignalPipe") << "pipe() failed in SignalPipe::SignalPipe()"
                                              << "Reason: " << std::strerror(errno) << std::endl;
    }
    EventDispatcher::instance()->addClient(this);
}

SignalPipe::~SignalPipe()
{
    if (_readEnd >= 0)
        close(_readEnd);
    if (_writeEnd >= 0)
        close(_writeEnd);
    _readEnd = _writeEnd = -1;
}

void SignalPipe::handleEvent()
{
    // Each number is one write of 4 bytes, so a read never splits one; the
    // numbers are copied out before any is handled.
    int numbers[1024];
    ssize_t n = read(_readEnd, numbers, sizeof numbers);
    if (n < 4 || n % 4 != 0)
        return;
    for (ssize_t i = 0; i < n / 4; ++i)
        SignalCatcher::instance()->handleSignal(numbers[i]);
}

void SignalPipe::post(int signal) const
{
    int saved = errno;
    if (_writeEnd >= 0) {
        ssize_t ignored = write(_writeEnd, &signal, sizeof signal);
        (void)ignored;
    }
    errno = saved;
}
