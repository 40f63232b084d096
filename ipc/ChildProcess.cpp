#include "ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#include "Connection.h"
#include "ForkHooks.h"
#include "LogStream.h"
#include "LogText.h"

namespace {

const char* const sourceFile = "ChildProcess";

// This process's own target as its own-environment children get it, made
// on the first build of their arguments and shared by all of them.
const TextString& parentTargetText()
{
    static const TextString text = Connection::myTarget().address();
    return text;
}

char* writable(const TextString& text)
{
    return const_cast<char*>(text.c_str());
}

// In a new child: every signal this process catches gets its default
// action back, as exec would give it, before any signal may arrive; so does
// SIGXFSZ, which the signal catcher ignores for this process alone.
void resetCaughtSignals()
{
    struct sigaction action;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_DFL ||
            (action.sa_handler == SIG_IGN && signal != SIGXFSZ))
            continue;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

ChildProcess::ChildProcess(const TextString& executable, int nUserArgs,
                           const char* const* userArgs, ChildProcessClient* client,
                           ForkHooks* hooks, int programType)
    : _executable(executable),
      _nUserArgs(nUserArgs),
      _autoRestart(false),
      _client(client),
      _restartCount(-1),
      _hooks(hooks),
      _programType(programType),
      _pid(-1),
      _uniqueIdText(),
      _uniqueId(0)
{
    for (int i = 0; userArgs && i < nUserArgs; ++i)
        _userArgs.append(TextString(userArgs[i] ? userArgs[i] : ""));
}

void ChildProcess::appendUserArgs(int maxUserArgs)
{
    const int n = _userArgs.length();
    if (n > maxUserArgs) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << LogText(_executable) << ": " << n
            << " user arguments refused; a program of this kind takes " << maxUserArgs << " at most"
            << std::endl;
    } else {
        for (int i = 0; i < n; ++i)
            _argv.push_back(writable(_userArgs[i]));
    }
    _argv.push_back(nullptr);
}

void ChildProcess::buildOwnArgs()
{
    QEV_LOG(LogStream::VERBOSE, sourceFile)
        << "Building arg list for process developed in qev environment" << std::endl;
    std::snprintf(_uniqueIdText, sizeof _uniqueIdText, "%lu", _uniqueId);
    _argv.clear();
    _argv.push_back(writable(_executable));
    _argv.push_back(writable(parentTargetText()));
    _argv.push_back(_uniqueIdText);
    appendUserArgs(OWN_MAX_USER_ARGS);
    QEV_LOG(LogStream::VERBOSE, sourceFile)
        << "executable = " << LogText(_executable)
        << "\nparentTarget = " << LogText(parentTargetText()) << "\nuniqueId = " << _uniqueIdText
        << "\nnArgs = " << _nUserArgs << std::endl;
    for (size_t i = 3; _argv[i]; ++i)
        QEV_LOG(LogStream::VERBOSE, sourceFile)
            << "user arg " << i - 3 << " = " << LogText(_argv[i]) << std::endl;
}

void ChildProcess::buildForeignArgs()
{
    QEV_LOG(LogStream::VERBOSE, sourceFile)
        << "Building arg list for program developed in foreign environment" << std::endl;
    _argv.clear();
    _argv.push_back(writable(_executable));
    appendUserArgs(FOREIGN_MAX_USER_ARGS);
    QEV_LOG(LogStream::VERBOSE, sourceFile) << "executable = " << LogText(_executable)
                                            << "\nnArgs = " << _nUserArgs << std::endl;
    for (size_t i = 1; _argv[i]; ++i)
        QEV_LOG(LogStream::VERBOSE, sourceFile)
            << "user arg " << i - 1 << " = " << LogText(_argv[i]) << std::endl;
}

int ChildProcess::start()
{
    if (_programType == OWN_ENVIRONMENT) {
        buildOwnArgs();
    } else if (_programType == FOREIGN) {
        buildForeignArgs();
    } else {
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "Unknown program type: " << _programType
                                                << std::endl;
        return 0;
    }
    if (_hooks)
        _hooks->beforeFork();
    // Signals wait until the child has dropped this process's handlers: a
    // signal meant for the child must never reach this process's signal
    // pipe, which the child shares until it executes the program.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    const pid_t pid = fork();
    if (pid == 0) {
        resetCaughtSignals();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (_hooks)
            _hooks->afterForkInChild();
        QEV_LOG(LogStream::VERBOSE, sourceFile)
            << "Forked process: executable = " << LogText(_executable) << std::endl;
        const int result = execvp(_executable.c_str(), _argv.data());
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "execvp error for " << LogText(_executable)
                                                << ": " << std::strerror(errno) << std::endl;
        _exit(result);
    }
    const int forkError = errno;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = forkError;
    if (pid == -1) {
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "Fork error " << std::strerror(errno)
                                                << std::endl;
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "Child process not created" << std::endl;
        return -1;
    }
    if (_hooks)
        _hooks->afterForkInParent();
    QEV_LOG(LogStream::EVENT, sourceFile) << LogText(_executable) << " started" << std::endl;
    _pid = pid;
    return pid;
}

void ChildProcess::runDown()
{
    // kill(0, ...) would signal the whole process group and kill(-1, ...)
    // every process there is.
    if (_pid <= 0)
        return;
    for (int signal : {SIGTERM, SIGINT, SIGQUIT, SIGABRT}) {
        if (kill(_pid, signal) == 0) {
            _pid = -1;
            return;
        }
    }
    QEV_LOG(LogStream::PROBLEM, sourceFile)
        << "ChildProcess::runDown(): pid " << _pid
        << " won't die (tried TERM, INT, QUIT, or ABRT)" << std::endl;
}
