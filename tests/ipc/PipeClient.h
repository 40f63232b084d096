// A descriptor client of the event tests: the read end of a pipe of its
// own.  ready() makes it readable; handleEvent reads one byte, notes the
// client's name in a shared list and, for a message client, tells the wait
// that a message from its peer was dispatched, as a data socket does.
#ifndef PIPECLIENT_H
#define PIPECLIENT_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "Connection.h"
#include "DescriptorEventClient.h"
#include "EventDispatcher.h"
#include "IPC_Target.h"

class PipeClient : public DescriptorEventClient {
public:
    PipeClient(std::vector<std::string>& handled, const std::string& name, int priority = 0,
               bool message = false, const IPC_Target& peer = IPC_Target())
        : _handled(handled), _name(name), _priority(priority), _message(message), _peer(peer)
    {
        if (pipe2(_fds, O_CLOEXEC) != 0)
            _fds[0] = _fds[1] = -1;
        _watched = _fds[0];
        EventDispatcher::instance()->addClient(this);
    }
    ~PipeClient() override
    {
        close(_fds[0]);
        close(_fds[1]);
    }

    void ready() const
    {
        if (write(_fds[1], "x", 1) != 1)
            ADD_FAILURE() << "cannot write to the pipe of " << _name;
    }
    void handleEvent() override
    {
        char byte;
        if (read(_fds[0], &byte, 1) == 1)
            _handled.push_back(_name);
        if (_onEvent)
            _onEvent();
        if (_message)
            Connection::noteMessage(_peer);
    }
    int descriptor() override { return _watched; }
    int eventMask() override { return READABLE; }
    int isHighPriority() override { return _priority; }

    int readEnd() const { return _fds[0]; }
    // Watch another descriptor instead of the pipe's read end (-1: none).
    void watch(int fd) { _watched = fd; }
    void onEvent(std::function<void()> f) { _onEvent = std::move(f); }

private:
    std::vector<std::string>& _handled;
    std::string _name;
    int _priority;
    bool _message;
    IPC_Target _peer;
    int _fds[2];
    int _watched;
    std::function<void()> _onEvent;
};

#endif
