// The installation and data trees of an end-to-end test, the test peer (the
// decoder's parent, data controller and notification server) and the
// decoder program as its child.
//
// QEV_HOME/data links the project's run-time data; every template of
// data/templates is made from its CDL into the point-data directories its
// "// point directories:" line names; the log preferences turn everything
// on.  start() runs the decoder for a data type name and connects to it
// once it is ready.
#ifndef DECODERINSTALLATION_H
#define DECODERINSTALLATION_H

#include "../decoder/DecoderChild.h"
#include "Cdl.h"
#include "SampleBulletin.h"
#include "TempTree.h"
#include "WirePeer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

struct DecoderInstallation {
    DecoderInstallation()
    {
        namespace fs = std::filesystem;
        const std::string source = QEV_SOURCE_DIR;
        for (const fs::directory_entry& e : fs::directory_iterator(source + "/data"))
            if (e.is_regular_file())
                fs::create_symlink(e.path(),
                                   tree.qevHome() + "/data/" + e.path().filename().string());
        tree.write("qev_home/data/qev.config",
                   WirePeer::namedTargetsConfig({peer.namedTargetEntry("NOTIFICATION_SERVER")}));
        tree.setEnv("LOG_PREF", tree.write("pref", "all all tty verbose = on\n").c_str());
        for (const fs::directory_entry& e : fs::directory_iterator(source + "/data/templates")) {
            std::ifstream in(e.path());
            std::stringstream cdl;
            cdl << in.rdbuf();
            const std::string marker = "// point directories: ";
            const std::size_t at = cdl.str().find(marker);
            if (at == std::string::npos)
                continue;
            const std::size_t from = at + marker.size();
            std::istringstream dirs(cdl.str().substr(from, cdl.str().find('\n', at) - from));
            for (std::string dir; dirs >> dir;) {
                const std::string path = tree.mkdirs("qev_data/point/" + dir);
                std::string error;
                EXPECT_TRUE(Cdl::make(cdl.str(), path + "/template", &error)) << error;
            }
        }
    }
    void start(const std::string& dataType)
    {
        child.reset(new DecoderChild(std::string(QEV_BIN_DIR) + "/decoder",
                                     {peer.targetText(), "3", dataType}, tree.path("child.log")));
        ASSERT_TRUE(peer.waitFor(1, 0, 30000, &ready)) << child->log();
        connection = peer.connectTo(ready.sender);
        ASSERT_GE(connection, 0);
    }
    // Writes a bulletin into an ingest directory below QEV_DATA.
    void drop(const std::string& ingest, const SampleBulletin& b,
              const std::string& name = "") const
    {
        tree.write("qev_data/" + ingest + "/" + (name.empty() ? b.name : name),
                   std::string(b.bytes.begin(), b.bytes.end()));
    }
    // A data message; true when the ReadyMsg after it came.
    bool announce(const std::string& text = std::string(40, 'x'))
    {
        return peer.sendData(connection, 1, text) && peer.waitFor(1, 0, 30000);
    }
    std::vector<WirePeer::Message> notifications() const
    {
        std::vector<WirePeer::Message> n;
        for (const WirePeer::Message& m : peer.messages())
            if (m.module == 2 && m.type == 10)
                n.push_back(m);
        return n;
    }

    TempTree tree;
    WirePeer peer;
    WirePeer::Message ready;
    int connection = -1;
    std::unique_ptr<DecoderChild> child;
};

#endif
