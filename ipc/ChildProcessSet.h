// ChildProcessSet: the process-wide registry of the children this process
// started.  It makes and starts them, keys them by unique id and by pid,
// matches the report each child sends once it runs (the ChildTargetMsg,
// through ProcMgmtReceiver), reaps exited children on SIGCHLD and restarts
// those marked for auto-restart; the owner of a child hears of each event
// through its ChildProcessClient.
//
// Unique ids are 32-bit numbers from a counter (0 never, none given twice
// while in use), as the ChildTargetMsg carries them.  A pid of 0 or less is
// never entered.  The set owns its children.  Main thread only: SIGCHLD
// reaches reap through the signal pipe and the event wait.
#ifndef CHILDPROCESSSET_H
#define CHILDPROCESSSET_H

#include <sys/types.h>

#include <deque>

#include "Dict.h"
#include "Set.h"

class ChildProcess;
class ChildProcessClient;
class ForkHooks;
class IPC_Target;
class TextString;

class ChildProcessSet {
public:
    // The one set, made on first use.  At exit it runs its children down,
    // in the process that made it only (a forked copy leaves them be).
    static ChildProcessSet* instance();
    ~ChildProcessSet();
    ChildProcessSet(const ChildProcessSet&) = delete;
    ChildProcessSet& operator=(const ChildProcessSet&) = delete;

    // Makes a child with the arguments of the ChildProcess constructor,
    // gives it a unique id and starts it: the running child, or null when
    // it could not be started (then nothing of it is kept).
    ChildProcess* add(const TextString& executable, int nUserArgs, const char* const* userArgs,
                      ChildProcessClient* client, ForkHooks* hooks, int programType);
    // Takes the child out of the set, runs it down and deletes it; notify:
    // its client is told (childExited) first.  A child not in the set is
    // logged and left alone.
    void remove(ChildProcess* child, bool notify);
    // A child's report: its target, then its start.
    void setIPC_Target(unsigned long uniqueId, const IPC_Target& target, int pid);
    void started(unsigned long uniqueId, int pid);
    // Hands every exited child to childExited: signals coalesce, so one
    // SIGCHLD may stand for several exits.
    void reap();
    // An exited child: restarted under a new pid when it is marked for
    // auto-restart, otherwise (or when the restart fails) its client is
    // told and the child deleted.
    void childExited(int pid);
    // One more restart counted, then ChildProcess::start.
    int restart(ChildProcess* child);

    // Whether a child of the set ran under the pid and left it (removed,
    // exited, or replaced by its restart), with no child of the set under
    // it now: what that process still sends comes from no child of the set.
    // The most recent FORMER_KEPT pids are kept.
    bool isFormerChild(int pid) const;
    enum { FORMER_KEPT = 64 };

    int count() const { return _pids.count(); }
    // The child at a position of the pid table, or null.
    ChildProcess* child(int i) const;
    ChildProcess* childWithPid(int pid) const;

private:
    ChildProcessSet();
    // The child under the pid, when its unique id is the one reported;
    // otherwise null after the BUG line (operation names the caller).
    ChildProcess* reportedChild(unsigned long uniqueId, int pid, const char* operation);
    unsigned long newUniqueId();
    void noteFormer(int pid);

    Set<unsigned long> _ids;
    Dict<int, ChildProcess*> _pids;
    std::deque<int> _former;
    pid_t _owner;
};

#endif
