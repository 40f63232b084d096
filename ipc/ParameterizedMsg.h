// A message between processes: a module (which receiver handles it), a type
// within the module, a priority (which connection carries it: 0 normal,
// 1 high), a delivery mode (0: a sending thread finishes a blocked write,
// 1: the write is finished synchronously) and an argument package that
// encodes its own arguments.
//
// The message owns its package from construction on.  buildBuffer makes the
// one buffer that goes on the wire: the IpcHeader with the sender's target,
// then the package's encoding.  The header is measured for each buffer
// built, so any sender frames correctly.  send hands that buffer, with the
// process's own target as sender, to the connection of the message's
// priority.
#ifndef PARAMETERIZEDMSG_H
#define PARAMETERIZEDMSG_H

#include "ArgPkgABC.h"

class ChildProcess;
class IPC_Target;

class ParameterizedMsg {
public:
    // Priority 0 and delivery mode 0; the package may be null.
    ParameterizedMsg(ArgPkgABC* args, short type, int module);
    ParameterizedMsg(const ParameterizedMsg&) = delete;
    ParameterizedMsg& operator=(const ParameterizedMsg&) = delete;
    virtual ~ParameterizedMsg();

    // The package's encoding; nothing without a package.
    virtual char* serialize(char* position) const;
    // The package's length; 0 without one.
    virtual unsigned length() const;

    const ArgPkgABC* args() const { return _args; }
    short type() const { return _type; }
    int module() const { return _module; }
    int priority() const { return _priority; }
    int deliveryMode() const { return _deliveryMode; }
    void setPriority(int priority) { _priority = priority; }
    void setDeliveryMode(int mode) { _deliveryMode = mode; }

    // A new buffer (delete[] it) of header and body; totalLength is set to
    // its size.  Null, logged, when the message is too long for the 32-bit
    // length of the header or the buffer cannot be had.
    char* buildBuffer(const IPC_Target& sender, unsigned& totalLength) const;

    // Sends the message to the target through the connection of its
    // priority: 0 sent or queued, -1 the target is not available, -2 an
    // error; failures are logged.  Connection::QUEUE_FULL: dropped, since the
    // target has not read what is queued for it (the socket layer logs that
    // time once, not each message).  Never retries; the message stays the
    // caller's.
    int send(const IPC_Target& to) const;
    // The same, to the target a child process reported.
    int send(const ChildProcess& child) const;

private:
    ArgPkgABC* _args;
    short _type;
    int _module;
    int _priority;
    int _deliveryMode;
};

#endif
