#include "ChildProcessSet.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "ChildProcess.h"
#include "ChildProcessClient.h"
#include "IPC_Target.h"
#include "LogStream.h"

namespace {
const char* const sourceFile = "ChildProcessSet";
}

ChildProcessSet::ChildProcessSet() : _owner(getpid()) {}

ChildProcessSet* ChildProcessSet::instance()
{
    static ChildProcessSet set;
    return &set;
}

ChildProcessSet::~ChildProcessSet()
{
    if (getpid() != _owner)
        return;
    std::vector<ChildProcess*> children;
    for (int i = 0; i < _pids.count(); ++i)
        children.push_back(_pids.value(i));
    for (ChildProcess* child : children)
        remove(child, false);
}

ChildProcess* ChildProcessSet::child(int i) const
{
    return i >= 0 && i < _pids.count() ? _pids.value(i) : nullptr;
}

ChildProcess* ChildProcessSet::childWithPid(int pid) const
{
    ChildProcess* child = nullptr;
    _pids.find(pid, nullptr, &child);
    return child;
}

void ChildProcessSet::noteFormer(int pid)
{
    if (pid <= 0)
        return;
    _former.push_back(pid);
    if (_former.size() > static_cast<size_t>(FORMER_KEPT))
        _former.pop_front();
}

bool ChildProcessSet::isFormerChild(int pid) const
{
    if (pid <= 0 || childWithPid(pid))
        return false;
    for (int former : _former)
        if (former == pid)
            return true;
    return false;
}

unsigned long ChildProcessSet::newUniqueId()
{
    static uint32_t last = 0;
    do {
        if (++last == 0)
            last = 1;
    } while (_ids.find(last));
    return last;
}

ChildProcess* ChildProcessSet::add(const TextString& executable, int nUserArgs,
                                   const char* const* userArgs, ChildProcessClient* client,
                                   ForkHooks* hooks, int programType)
{
    ChildProcess* child =
        new ChildProcess(executable, nUserArgs, userArgs, client, hooks, programType);
    child->setUniqueId(newUniqueId());
    _ids.insert(child->uniqueId());
    QEV_LOG(LogStream::DEBUG, sourceFile) << "CPS::add ID = " << child->uniqueId() << std::endl;
    if (restart(child) <= 0) {
        _ids.remove(child->uniqueId());
        delete child;
        return nullptr;
    }
    _pids.insert(child->pid(), child);
    return child;
}

int ChildProcessSet::restart(ChildProcess* child)
{
    child->incrementRestartCount();
    return child->start();
}

void ChildProcessSet::remove(ChildProcess* child, bool notify)
{
    // Found by the pointer itself: a pointer the set does not hold is never
    // dereferenced.
    bool held = false;
    for (int i = 0; i < _pids.count() && !held; ++i)
        held = _pids.value(i) == child;
    if (!held) {
        QEV_LOG(LogStream::BUG, sourceFile) << "remove by ChildProcess*: no such process in set"
                                            << std::endl;
        return;
    }
    if (notify && child->client())
        child->client()->childExited(child);
    QEV_LOG(LogStream::EVENT, sourceFile) << "Removing process from set" << std::endl;
    _pids.remove(child->pid());
    noteFormer(child->pid());
    child->runDown();
    const unsigned long id = child->uniqueId();
    _ids.remove(id);
    QEV_LOG(LogStream::DEBUG, sourceFile) << "CPS::remove ID = " << id << std::endl;
    delete child;
}

ChildProcess* ChildProcessSet::reportedChild(unsigned long uniqueId, int pid,
                                             const char* operation)
{
    if (!_ids.find(uniqueId)) {
        QEV_LOG(LogStream::BUG, sourceFile) << operation << ": don't care about child with ID = "
                                            << uniqueId << std::endl;
        return nullptr;
    }
    ChildProcess* child = childWithPid(pid);
    if (!child) {
        QEV_LOG(LogStream::BUG, sourceFile) << operation
                                            << ": not our child or child dead, ignoring child\n"
                                            << std::endl;
        return nullptr;
    }
    if (child->uniqueId() != uniqueId) {
        QEV_LOG(LogStream::BUG, sourceFile) << operation
                                            << ": pointer mismatch, ignoring child\n"
                                            << std::endl;
        return nullptr;
    }
    return child;
}

void ChildProcessSet::setIPC_Target(unsigned long uniqueId, const IPC_Target& target, int pid)
{
    QEV_LOG(LogStream::DEBUG, sourceFile) << "CPS::setIPC_target ID = " << uniqueId << std::endl;
    if (ChildProcess* child = reportedChild(uniqueId, pid, "CPS::setIPC_Target"))
        child->setTarget(target);
}

void ChildProcessSet::started(unsigned long uniqueId, int pid)
{
    QEV_LOG(LogStream::DEBUG, sourceFile) << "CPS::started ID = " << uniqueId << std::endl;
    ChildProcess* child = reportedChild(uniqueId, pid, "CPS::started");
    if (!child || !child->client())
        return;
    if (child->restartCount() < 1)
        child->client()->childStarted(child);
    else
        child->client()->childRestartedStarted(child);
}

void ChildProcessSet::reap()
{
    int status;
    pid_t pid;
    while ((pid = wait3(&status, WNOHANG, nullptr)) > 0)
        childExited(pid);
}

void ChildProcessSet::childExited(int pid)
{
    if (pid <= 0)
        return;
    QEV_LOG(LogStream::EVENT, sourceFile) << "Process " << pid << " has exited" << std::endl;
    ChildProcess* child = childWithPid(pid);
    if (!child)
        return;
    noteFormer(pid);
    if (child->autoRestart()) {
        const int newPid = restart(child);
        if (newPid > 0) {
            _pids.remove(pid);
            _pids.insert(newPid, child);
            // The client can still find the child by its old target.
            if (child->client())
                child->client()->childRestarted(child);
            child->setTarget(IPC_Target());
            return;
        }
    }
    // Not restarted, or the restart failed: the child runs no more, and
    // keeping it would leave its old pid to be signalled after the system
    // has given it to another process.
    if (child->client())
        child->client()->childExited(child);
    _pids.remove(pid);
    _ids.remove(child->uniqueId());
    delete child;
}
