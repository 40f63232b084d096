// The other processes a decoder process talks to, for the demo: its parent
// process manager, which is also its data controller, and the notification
// server, on 127.0.0.1 (the test peer's codec and server).
//
//     standin_peer CONFIG LOG TYPE DECODER [KEY BULLETINS INGEST]...
//
// It writes the configuration CONFIG (qev.config, naming itself as
// "NOTIFICATION_SERVER"), starts DECODER as its child with the arguments a
// parent gives (its own target, unique id 1, data type TYPE; output into
// LOG) and waits for the answer, the data request and the first ReadyMsg.
// Then, for each data type KEY in turn, it moves each file of BULLETINS (in
// name order) into INGEST and sends a data message naming it, waiting for
// the ReadyMsg that follows, and then until the notifications stop, so that
// the notifications that came belong to that data type.  At the end it
// stops the decoder with SIGTERM and prints what it received: the data
// request, the answers and, per data type, a line "  KEY: N files
// announced, M notifications" ("file" for one) followed by its
// notifications by product key (the run and forecast hours of forecasts,
// the times of observations).  The exit status is 0 when the decoder
// answered every message and exited with 0.
#include "WirePeer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

const int WAIT_MS = 60000;

std::string utc(int32_t t)
{
    const time_t seconds = t;
    struct tm parts;
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts);
    return text;
}

pid_t startDecoder(const std::string& program, std::vector<std::string> args,
                   const std::string& log)
{
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit code of the child, -1 when it did not exit in time (it is then
// killed) or died of a signal.
int waitExit(pid_t pid, int timeoutMs)
{
    int status = 0;
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

// Waits until no notification has come for quietMs.
void settle(const WirePeer& peer, int quietMs)
{
    std::size_t seen = peer.count(2, 10);
    for (int quiet = 0; quiet < quietMs; quiet += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (peer.count(2, 10) != seen) {
            seen = peer.count(2, 10);
            quiet = 0;
        }
    }
}

// The data type of a group of bulletins, the files announced and the range
// of the notifications (in arrival order) that came for them.
struct Group {
    std::string key;
    int files = 0;
    std::size_t firstNotice = 0, endNotice = 0;
};

// The notifications of one product key and kind (forecast or observation).
struct KeyNotices {
    int count = 0;
    uint32_t flags = 0;
    std::set<int32_t> runs, hours, times;
};

void reportGroup(const std::vector<WirePeer::Message>& notices, std::size_t first,
                 std::size_t end)
{
    std::map<std::pair<uint32_t, bool>, KeyNotices> perKey;
    for (std::size_t n = first; n < end && n < notices.size(); ++n) {
        const WirePeer::DataTime& t = notices[n].dataTime;
        const bool forecast = (t.flags & 0x400) != 0;
        KeyNotices& k = perKey[{notices[n].key, forecast}];
        ++k.count;
        k.flags |= t.flags;
        if (forecast) {
            k.runs.insert(t.refTime);
            k.hours.insert(t.fcstPeriod / 3600);
        } else {
            k.times.insert(t.refTime);
        }
    }
    for (const auto& entry : perKey) {
        const KeyNotices& k = entry.second;
        std::printf("    product key %u: %d, ", entry.first.first, k.count);
        if (entry.first.second) {
            std::printf("%s %s, forecast hours", k.runs.size() > 1 ? "runs from" : "run",
                        utc(*k.runs.begin()).c_str());
            for (int h : k.hours)
                std::printf(" %d", h);
        } else if (k.times.size() == 1) {
            std::printf("observed %s", utc(*k.times.begin()).c_str());
        } else {
            std::printf("%zu observation times, %s to %s", k.times.size(),
                        utc(*k.times.begin()).c_str(), utc(*k.times.rbegin()).c_str());
        }
        std::printf(" (flags 0x%x)\n", k.flags);
    }
}

void report(const WirePeer& peer, const std::vector<Group>& groups)
{
    std::vector<WirePeer::Message> notices;
    for (const WirePeer::Message& m : peer.messages())
        if (m.module == 2 && m.type == 10)
            notices.push_back(m);
    std::printf("notifications received: %zu\n", notices.size());
    std::size_t announced = 0;
    for (const Group& g : groups) {
        std::printf("  %s: %d file%s announced, %zu notifications\n", g.key.c_str(), g.files,
                    g.files == 1 ? "" : "s", g.endNotice - g.firstNotice);
        reportGroup(notices, g.firstNotice, g.endNotice);
        announced += g.endNotice - g.firstNotice;
    }
    // Notifications before the first data message (files that waited in an
    // ingest directory at the start) or after the last group settled.
    if (notices.size() > announced) {
        std::printf("  outside the data messages: %zu notifications\n", notices.size() - announced);
        if (!groups.empty()) {
            reportGroup(notices, 0, groups.front().firstNotice);
            reportGroup(notices, groups.back().endNotice, notices.size());
        } else {
            reportGroup(notices, 0, notices.size());
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5 || (argc - 5) % 3) {
        std::fprintf(stderr,
                     "usage: standin_peer CONFIG LOG TYPE DECODER [KEY BULLETINS INGEST]...\n");
        return 2;
    }
    WirePeer peer;
    if (!peer.listening()) {
        std::fprintf(stderr, "standin_peer: cannot listen on 127.0.0.1\n");
        return 1;
    }
    {
        std::ofstream config(argv[1], std::ios::trunc);
        config << WirePeer::namedTargetsConfig({peer.namedTargetEntry("NOTIFICATION_SERVER")});
        if (!config) {
            std::fprintf(stderr, "standin_peer: cannot write %s\n", argv[1]);
            return 1;
        }
    }
    std::printf("stand-in parent, data controller and notification server at %s\n",
                peer.targetText().c_str());
    const pid_t pid = startDecoder(argv[4], {peer.targetText(), "1", argv[3]}, argv[2]);
    if (pid < 0) {
        std::fprintf(stderr, "standin_peer: cannot start %s\n", argv[4]);
        return 1;
    }
    bool ok = true;
    WirePeer::Message answer, request, ready;
    if (!peer.waitFor(5, 0, WAIT_MS, &answer) || !peer.waitFor(1, 1, WAIT_MS, &request) ||
        !peer.waitFor(1, 0, WAIT_MS, &ready)) {
        std::fprintf(stderr, "standin_peer: the decoder did not register (see %s)\n", argv[2]);
        ok = false;
    } else {
        std::printf("decoder %d answered (unique id %u) and asks for products \"%s\"\n",
                    answer.processId, answer.uniqueId, request.pattern.c_str());
    }

    int sent = 0, answered = 0;
    std::vector<Group> groups;
    const int connection = ok ? peer.connectTo(ready.sender) : -1;
    // Files already waiting were stored when the decoder started.
    settle(peer, 100);
    for (int arg = 5; ok && arg + 2 < argc; arg += 3) {
        Group group;
        group.key = argv[arg];
        group.firstNotice = peer.count(2, 10);
        std::vector<std::string> names;
        std::error_code ec;
        for (const fs::directory_entry& e : fs::directory_iterator(argv[arg + 1], ec))
            if (e.is_regular_file())
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string target = std::string(argv[arg + 2]) + "/" + name;
            fs::rename(std::string(argv[arg + 1]) + "/" + name, target, ec);
            // The product id is the 6 characters that begin 5 after the
            // first ".": the file name's first 6.
            char text[256];
            std::snprintf(text, sizeof text, "KWBC.%04d%s %s", (sent + 1) % 10000, name.c_str(),
                          target.c_str());
            ++sent;
            ++group.files;
            if (connection < 0 || ec || !peer.sendData(connection, sent, std::string(text)) ||
                !peer.waitFor(1, 0, WAIT_MS)) {
                std::fprintf(stderr, "standin_peer: no answer to the data message for %s\n",
                             name.c_str());
                ok = false;
                break;
            }
            ++answered;
        }
        // The decoder notifies before it answers; the last notifications
        // may still be on their way.
        settle(peer, 100);
        group.endNotice = peer.count(2, 10);
        groups.push_back(group);
    }
    settle(peer, 200);
    std::printf("data messages sent: %d, answered with ReadyMsg: %d\n", sent, answered);
    kill(pid, SIGTERM);
    const int status = waitExit(pid, WAIT_MS);
    report(peer, groups);
    std::printf("decoder stopped with SIGTERM, exit status %d\n", status);
    return ok && status == 0 ? 0 : 1;
}
