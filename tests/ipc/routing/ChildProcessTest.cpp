// Child processes, the child process set and the process-management
// receiver, with ordinary programs as children.  The message layer is set
// up once for the process (DataRoutingManagerTest.cpp).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "../sockets/SocketTestSupport.h"
#include "ChildProcess.h"
#include "ChildProcessClient.h"
#include "ChildProcessSet.h"
#include "LogCapture.h"
#include "ReadyMsg.h"

using namespace sockettest;

namespace {

std::vector<std::string> argumentsOf(const ChildProcess& child)
{
    std::vector<std::string> args;
    const std::vector<char*>& argv = child.argumentVector();
    for (size_t i = 0; i + 1 < argv.size(); ++i)
        args.push_back(argv[i]);
    EXPECT_EQ(argv.back(), nullptr);
    return args;
}

void reaped(int pid)
{
    int status;
    waitpid(pid, &status, 0);
}

struct EventRecorder : ChildProcessClient {
    void childStarted(ChildProcess*) override { events.push_back("started"); }
    void childExited(ChildProcess*) override { events.push_back("exited"); }
    void childRestarted(ChildProcess*) override { events.push_back("restarted"); }
    void childRestartedStarted(ChildProcess*) override { events.push_back("restartedStarted"); }
    std::vector<std::string> events;
};

}  // namespace

TEST(ChildProcess, ArgumentVectorsByProgramType)
{
    LogCapture log;
    const char* some[] = {"a", nullptr, ""};
    ChildProcess own(TextString("true"), 3, some, nullptr, nullptr, ChildProcess::OWN_ENVIRONMENT);
    own.setUniqueId(77);
    EXPECT_EQ(own.pid(), -1);
    EXPECT_EQ(own.restartCount(), -1);
    ASSERT_GT(own.start(), 0);
    const std::string parent = Connection::myTarget().address().c_str();
    EXPECT_EQ(argumentsOf(own), (std::vector<std::string>{"true", parent, "77", "a", "", ""}));
    reaped(own.pid());

    const char* many[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11"};
    ChildProcess ownNine(TextString("true"), 9, many, nullptr, nullptr, ChildProcess::OWN_ENVIRONMENT);
    ASSERT_GT(ownNine.start(), 0);
    EXPECT_EQ(argumentsOf(ownNine).size(), 3u);
    EXPECT_EQ(ownNine.argumentVector()[1], own.argumentVector()[1]);  // one shared text
    EXPECT_EQ(log.count("true: 9 user arguments refused; a program of this kind takes 8 at most"), 1);
    reaped(ownNine.pid());

    for (int n : {0, 10, 11}) {
        ChildProcess foreign(TextString("true"), n, many, nullptr, nullptr, ChildProcess::FOREIGN);
        ASSERT_GT(foreign.start(), 0);
        EXPECT_EQ(argumentsOf(foreign).size(), n == 10 ? 11u : 1u) << n;
        reaped(foreign.pid());
    }

    ChildProcess unknown(TextString("true"), 0, nullptr, nullptr, nullptr, 5);
    EXPECT_EQ(unknown.start(), 0);
    EXPECT_EQ(unknown.pid(), -1);
    EXPECT_EQ(log.count("Unknown program type: 5"), 1);
    unknown.runDown();  // pid -1: nothing is signalled
}

TEST(ChildProcess, RunDownSignalsOnceAndReportsAProcessThatIsGone)
{
    const char* seconds[] = {"30"};
    ChildProcess sleeper(TextString("sleep"), 1, seconds, nullptr, nullptr, ChildProcess::FOREIGN);
    const int pid = sleeper.start();
    ASSERT_GT(pid, 0);
    // Most likely before the child has executed the program: the signal
    // must still end the child, and never reach this process's handlers.
    sleeper.runDown();
    EXPECT_EQ(sleeper.pid(), -1);
    sleeper.runDown();
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

    ChildProcess gone(TextString("true"), 0, nullptr, nullptr, nullptr, ChildProcess::FOREIGN);
    const int gonePid = gone.start();
    reaped(gonePid);
    LogCapture log;
    gone.runDown();
    EXPECT_EQ(gone.pid(), gonePid);
    EXPECT_EQ(log.count("ChildProcess::runDown(): pid " + std::to_string(gonePid) +
                        " won't die (tried TERM, INT, QUIT, or ABRT)"),
              1);
}

TEST(ChildProcessSet, MatchesReportsRestartsAndReapsEveryExit)
{
    ChildProcessSet* set = ChildProcessSet::instance();
    EventRecorder owner;
    const char* seconds[] = {"30"};
    ChildProcess* first = set->add(TextString("sleep"), 1, seconds, &owner, nullptr, ChildProcess::FOREIGN);
    ChildProcess* second = set->add(TextString("sleep"), 1, seconds, &owner, nullptr, ChildProcess::FOREIGN);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(set->count(), 2);
    EXPECT_NE(first->uniqueId(), second->uniqueId());
    EXPECT_EQ(first->restartCount(), 0);
    EXPECT_EQ(set->add(TextString("true"), 0, nullptr, &owner, nullptr, 7), nullptr);
    EXPECT_EQ(set->count(), 2);

    // Reports: one that fits, and three that do not.
    WirePeer peer;
    const int c = peer.connectTo(ownTarget());
    const WirePeer::Target& from = peer.target();
    LogCapture log;
    ASSERT_TRUE(peer.send(c, WirePeer::childTargetMsg(from, first->uniqueId(), first->pid())));
    ASSERT_TRUE(peer.send(c, WirePeer::childTargetMsg(from, 999999, first->pid())));
    ASSERT_TRUE(peer.send(c, WirePeer::childTargetMsg(from, first->uniqueId(), 1)));
    ASSERT_TRUE(peer.send(c, WirePeer::childTargetMsg(from, first->uniqueId(), second->pid())));
    ASSERT_TRUE(peer.send(c, WirePeer::encode(from, 5, 3, {})));
    ASSERT_TRUE(pumpUntil([&] { return log.contains("receive: unrecognized message type "); }));
    EXPECT_EQ(owner.events, std::vector<std::string>{"started"});
    EXPECT_EQ(first->target(), targetOf(peer));
    EXPECT_TRUE(second->target().isNull());
    EXPECT_EQ(log.count("CPS::setIPC_Target: don't care about child with ID = 999999"), 1);
    EXPECT_EQ(log.count("CPS::started: not our child or child dead, ignoring child"), 1);
    EXPECT_EQ(log.count("CPS::setIPC_Target: pointer mismatch, ignoring child"), 1);
    ReadyMsg ready;
    EXPECT_EQ(ready.send(*first), 0);
    EXPECT_TRUE(peer.waitFor(1, 0, 5000));

    // A restart through SIGCHLD: a new pid, no target until the next report.
    first->setAutoRestart(true);
    const int oldPid = first->pid();
    kill(oldPid, SIGKILL);
    ASSERT_TRUE(pumpUntil([&] { return first->pid() != oldPid; }));
    EXPECT_EQ(owner.events.back(), "restarted");
    EXPECT_EQ(first->restartCount(), 1);
    EXPECT_TRUE(first->target().isNull());
    EXPECT_EQ(set->childWithPid(first->pid()), first);
    EXPECT_EQ(set->childWithPid(oldPid), nullptr);
    ASSERT_TRUE(peer.send(c, WirePeer::childTargetMsg(from, first->uniqueId(), first->pid())));
    ASSERT_TRUE(pumpUntil([&] { return owner.events.back() == "restartedStarted"; }));

    // Two exits before the signal is handled: one reap takes both.
    first->setAutoRestart(false);
    for (ChildProcess* child : {first, second}) {
        const int pid = child->pid();
        kill(pid, SIGKILL);
        siginfo_t info;
        waitid(P_PID, pid, &info, WEXITED | WNOWAIT);
    }
    set->reap();
    EXPECT_EQ(set->count(), 0);
    EXPECT_EQ(owner.events, (std::vector<std::string>{"started", "restarted", "restartedStarted",
                                                      "exited", "exited"}));

    // Removal with notice runs the child down; one the set does not hold
    // is refused.
    ChildProcess* third = set->add(TextString("sleep"), 1, seconds, &owner, nullptr, ChildProcess::FOREIGN);
    ASSERT_NE(third, nullptr);
    set->remove(third, true);
    EXPECT_EQ(owner.events.size(), 6u);
    EXPECT_EQ(set->count(), 0);
    ChildProcess stranger(TextString("true"), 0, nullptr, nullptr, nullptr, ChildProcess::FOREIGN);
    set->remove(&stranger, true);
    EXPECT_EQ(log.count("remove by ChildProcess*: no such process in set"), 1);
}
