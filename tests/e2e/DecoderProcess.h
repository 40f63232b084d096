// A decoder program started as a child of a test peer (its parent, data
// controller and notification server) for one data type name, as the
// end-to-end tests drive it: its own ReadyMsg awaited, data messages sent,
// its file size limit set and lifted, a clean stop.
#ifndef DECODERPROCESS_H
#define DECODERPROCESS_H

#include "../decoder/DecoderChild.h"
#include "WirePeer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <vector>

struct DecoderProcess {
    // launcher: a program and its arguments that start the decoder in the
    // same process (one that takes another account); none starts it itself.
    DecoderProcess(WirePeer& parent, const std::string& type, const std::string& logPath,
                   std::vector<std::string> launcher = {})
        : peer(parent), child(start(std::move(launcher), parent.targetText(), type, logPath))
    {
    }
    // The next ReadyMsg of this process (those of earlier ones are passed).
    bool ready(int timeoutMs = 30000)
    {
        WirePeer::Message m;
        while (peer.waitFor(1, 0, timeoutMs, &m))
            if (m.sender.pid == child.pid()) {
                sender = m.sender;
                return true;
            }
        return false;
    }
    // A data message; true once the ReadyMsg after it came.
    bool announce()
    {
        if (connection < 0)
            connection = peer.connectTo(sender);
        return connection >= 0 && peer.sendData(connection, 1, std::string(40, 'x')) && ready();
    }
    int stop()
    {
        child.signal(SIGTERM);
        return child.waitExit(60000);
    }
    // Sets the process's file size limit (RLIM_INFINITY lifts it).
    void limitFileSize(rlim_t bytes) const
    {
        const struct rlimit limit = {bytes, RLIM_INFINITY};
        ASSERT_EQ(prlimit(child.pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
    }

    static DecoderChild start(std::vector<std::string> command, const std::string& target,
                              const std::string& type, const std::string& logPath)
    {
        command.insert(command.end(), {std::string(QEV_BIN_DIR) + "/decoder", target, "3", type});
        const std::string program = command.front();
        command.erase(command.begin());
        return DecoderChild(program, command, logPath);
    }

    WirePeer& peer;
    DecoderChild child;
    WirePeer::Target sender;
    int connection = -1;
};

#endif
