// ChildProcessClient: the owner of child processes, told by the child
// process set of what happens to them.  Every operation has an empty
// default.
#ifndef CHILDPROCESSCLIENT_H
#define CHILDPROCESSCLIENT_H

class ChildProcess;

class ChildProcessClient {
public:
    // A child started for the first time has reported its target.
    virtual void childStarted(ChildProcess*) {}
    // A child exited and runs no more (not restarted, or its restart
    // failed), or it is being removed with notification.
    virtual void childExited(ChildProcess*) {}
    // An exited child was started again under a new pid; its target is
    // still the old one during the call.
    virtual void childRestarted(ChildProcess*) {}
    // A restarted child has reported its target.
    virtual void childRestartedStarted(ChildProcess*) {}

protected:
    ~ChildProcessClient() {}
};

#endif
