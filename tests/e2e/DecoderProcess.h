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

struct DecoderProcess {
    DecoderProcess(WirePeer& parent, const std::string& type, const std::string& logPath)
        : peer(parent),
          child(std::string(QEV_BIN_DIR) + "/decoder", {parent.targetText(), "3", type}, logPath)
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
        kill(child.pid(), SIGTERM);
        return child.waitExit(60000);
    }
    // Sets the process's file size limit (RLIM_INFINITY lifts it).
    void limitFileSize(rlim_t bytes) const
    {
        const struct rlimit limit = {bytes, RLIM_INFINITY};
        ASSERT_EQ(prlimit(child.pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
    }

    WirePeer& peer;
    DecoderChild child;
    WirePeer::Target sender;
    int connection = -1;
};

#endif
