#include "selectWrapper.h"

#include "DescriptorEventClient.h"
#include "LogStream.h"
#include "monotonicClock.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace {

short pollEvents(int mask)
{
    short events = 0;
    if (mask & DescriptorEventClient::READABLE)
        events |= POLLIN;
    if (mask & DescriptorEventClient::WRITABLE)
        events |= POLLOUT;
    if (mask & DescriptorEventClient::EXCEPTION)
        events |= POLLPRI;
    return events;
}

// What select would have reported: the asked-for condition, or a hang-up or
// error, which a read or write of the descriptor then reports.
bool isReady(const pollfd& p)
{
    return p.fd >= 0 && (p.revents & (p.events | POLLERR | POLLHUP)) != 0;
}

int failed(int error)
{
    QEV_LOG(LogStream::PROBLEM, "selectWrapper") << "select() fail: " << std::strerror(error)
                                                 << std::endl;
    return SELECT_FAILED;
}

// Handles the snapshot's ready clients of one priority.
void handlePass(Set<DescriptorEventClient*>& live,
                const std::vector<DescriptorEventClient*>& snapshot,
                const std::vector<pollfd>& polled, int priority)
{
    for (size_t i = 0; i < snapshot.size(); ++i) {
        DescriptorEventClient* client = snapshot[i];
        if (!isReady(polled[i]) || !live.find(client))
            continue;
        if (client->isHighPriority() == priority && client->descriptor() == polled[i].fd)
            client->handleEvent();
    }
}

} // namespace

int selectWrapper(Set<DescriptorEventClient*>& clients, int timeoutMillis)
{
    std::vector<DescriptorEventClient*> snapshot;
    std::vector<pollfd> polled;
    const int64_t now = monotonicMillis();
    int64_t firstResume = INT64_MAX;
    try {
        snapshot.reserve(clients.count());
        polled.reserve(clients.count());
        for (int i = 0; i < clients.count(); ++i) {
            DescriptorEventClient* client = clients[i];
            int fd = client->descriptor();
            if (fd < 0)
                continue;
            const int64_t paused = client->pausedUntil();
            if (paused > now) {
                firstResume = std::min(firstResume, paused);
                continue;
            }
            short events = pollEvents(client->eventMask());
            snapshot.push_back(client);
            // A client that asks for nothing is never ready.
            polled.push_back(pollfd{events ? fd : -1, events, 0});
        }
    } catch (const std::bad_alloc&) {
        return failed(ENOMEM);
    }

    int timeout = timeoutMillis < 0 ? -1 : timeoutMillis;
    bool untilResume = false;
    if (firstResume != INT64_MAX) {
        const int resume = pollTimeout(firstResume - now);
        if (timeout < 0 || resume < timeout) {
            timeout = resume;
            untilResume = true;
        }
    }
    int n = poll(polled.data(), polled.size(), timeout);
    if (n < 0)
        return errno == EINTR ? SELECT_INTERRUPTED : failed(errno);
    if (n == 0)
        return untilResume ? SELECT_HANDLED : SELECT_TIMED_OUT;
    for (const pollfd& p : polled) {
        if (p.fd >= 0 && (p.revents & POLLNVAL))
            return failed(EBADF);
    }
    handlePass(clients, snapshot, polled, 1);
    handlePass(clients, snapshot, polled, 0);
    return SELECT_HANDLED;
}

bool waitReadable(DescriptorEventClient* client, int timeoutMillis)
{
    pollfd p{client->descriptor(), POLLIN, 0};
    if (p.fd < 0)
        return false;
    return poll(&p, 1, timeoutMillis) == 1 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}
