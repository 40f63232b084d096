#include "ThreadSignalCatcher.h"

#include "signalName.h"

#include <unistd.h>

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

} // namespace

ThreadSignalCatcher::ThreadSignalCatcher() : _mainThread(pthread_self()) {}

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
