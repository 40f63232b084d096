// ForkHooks: an observer of the fork that starts a child process.  Each hook
// runs once per start: before the fork, in the child before it executes the
// program, and in the parent after the fork.
#ifndef FORKHOOKS_H
#define FORKHOOKS_H

class ForkHooks {
public:
    virtual ~ForkHooks() {}

    virtual void beforeFork() {}
    // Only what is safe between fork and exec.
    virtual void afterForkInChild() {}
    virtual void afterForkInParent() {}
};

#endif
