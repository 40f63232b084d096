// ChildProcess: one program this process starts and supervises as a child:
// its executable, user arguments and kind, its process id, its restart
// count and the IPC target it reports once it runs.
//
// A program of the system's own environment (type 0) is started with the
// executable, this process's own target as text, its unique id and its user
// arguments (at most 8), and reports back with a ChildTargetMsg carrying
// the unique id; a foreign program (type 1) gets only its user arguments
// (at most 10).  More user arguments than that are refused: the program
// starts without them (logged).
//
// Children are made, keyed by unique id and pid, and restarted by the child
// process set; the unique id is a 32-bit number the set gives out.  Deleting
// a child never signals it.  Main thread only.
#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <vector>

#include "IPC_Target.h"
#include "SeqOf.h"
#include "TextString.h"

class ChildProcessClient;
class ForkHooks;

class ChildProcess {
public:
    enum ProgramType { OWN_ENVIRONMENT = 0, FOREIGN = 1 };
    enum { OWN_MAX_USER_ARGS = 8, FOREIGN_MAX_USER_ARGS = 10 };

    // Copies the executable and the user arguments (a null or empty one
    // becomes an empty argument); auto-restart off, restart count -1, pid
    // -1, target null.
    ChildProcess(const TextString& executable, int nUserArgs, const char* const* userArgs,
                 ChildProcessClient* client, ForkHooks* hooks, int programType);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Builds the argument vector of the program type, forks and executes
    // the program: the child's pid; -1 when the fork fails (logged, pid
    // unchanged); 0 for an unknown program type (logged, nothing forked).
    int start();
    // Signals the child to end: SIGTERM, or when that cannot be sent INT,
    // QUIT, then ABRT.  The pid becomes -1 once a signal was sent; the exit
    // itself is reaped through SIGCHLD.  Nothing for a pid of 0 or less.
    void runDown();

    const TextString& executable() const { return _executable; }
    int pid() const { return _pid; }
    int programType() const { return _programType; }
    ChildProcessClient* client() const { return _client; }
    bool autoRestart() const { return _autoRestart; }
    void setAutoRestart(bool on) { _autoRestart = on; }
    int restartCount() const { return _restartCount; }
    void incrementRestartCount() { ++_restartCount; }
    unsigned long uniqueId() const { return _uniqueId; }
    void setUniqueId(unsigned long id) { _uniqueId = id; }
    const IPC_Target& target() const { return _target; }
    void setTarget(const IPC_Target& target) { _target = target; }

    // The argument vector of the last start, null-terminated.
    const std::vector<char*>& argumentVector() const { return _argv; }

private:
    void buildOwnArgs();
    void buildForeignArgs();
    // The user arguments behind the fixed entries, when there are no more
    // than the program type takes, then the terminating null.
    void appendUserArgs(int maxUserArgs);

    TextString _executable;
    int _nUserArgs;
    bool _autoRestart;
    ChildProcessClient* _client;
    int _restartCount;
    ForkHooks* _hooks;
    int _programType;
    int _pid;
    SeqOf<TextString> _userArgs;
    std::vector<char*> _argv;
    char _uniqueIdText[24];
    unsigned long _uniqueId;
    IPC_Target _target;
};

#endif
