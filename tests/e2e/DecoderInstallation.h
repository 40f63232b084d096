// What the end-to-end tests of every data type share: a decoder
// installation from the project's own run-time data (data/ linked into
// QEV_HOME, every template of data/templates made into the point-data
// directories its "// point directories:" line names), the test peer as
// parent, data controller and notification server, the decoder program as
// its child, and readers of the stored variables.
#ifndef DECODERINSTALLATION_H
#define DECODERINSTALLATION_H

#include "../decoder/DecoderChild.h"
#include "Cdl.h"
#include "SampleBulletin.h"
#include "TempTree.h"
#include "WirePeer.h"

#include <gtest/gtest.h>
#include <netcdf.h>

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
                fs::create_symlink(e.path(), tree.qevHome() + "/data/" + e.path().filename().string());
        tree.write("qev_home/data/qev.config",
                   WirePeer::namedTargetsConfig({peer.namedTargetEntry("NOTIFICATION_SERVER")}));
        tree.setEnv("LOG_PREF", tree.write("pref", "all all tty verbose = on\n").c_str());
        for (const fs::directory_entry& e : fs::directory_iterator(source + "/data/templates")) {
            const std::string cdl = TempTree::readFile(e.path().string());
            const std::string mark = "// point directories:";
            const size_t at = cdl.find(mark);
            if (at == std::string::npos)
                continue;
            std::istringstream dirs(cdl.substr(at + mark.size(), cdl.find('\n', at) - at - mark.size()));
            for (std::string dir; dirs >> dir;) {
                std::string error;
                EXPECT_TRUE(Cdl::make(cdl, tree.mkdirs("qev_data/point/" + dir) + "/template", &error))
                    << error;
            }
        }
    }
    // The decoder of the data type name, waiting for data messages.
    void start(const std::string& type)
    {
        child.reset(new DecoderChild(std::string(QEV_BIN_DIR) + "/decoder",
                                     {peer.targetText(), "3", type}, tree.path("child.log")));
        ASSERT_TRUE(peer.waitFor(1, 0, 30000, &ready)) << child->log();
        connection = peer.connectTo(ready.sender);
        ASSERT_GE(connection, 0);
    }
    // A bulletin into an ingest directory (its path).
    void put(const std::string& dir, const SampleBulletin& b, const std::string& name = "") const
    {
        std::ofstream(dir + "/" + (name.empty() ? b.name : name), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.bytes.data()),
                   static_cast<std::streamsize>(b.bytes.size()));
    }
    // A data message of the text given; true when the ReadyMsg after it came.
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

// The first `records` rows of a (record, width) char variable.
inline std::vector<std::string> texts(int ncid, const char* name, int records, int width)
{
    int var = -1;
    std::vector<char> all(static_cast<size_t>(records * width));
    const size_t start[] = {0, 0}, count[] = {static_cast<size_t>(records),
                                              static_cast<size_t>(width)};
    EXPECT_EQ(nc_inq_varid(ncid, name, &var), NC_NOERR);
    EXPECT_EQ(nc_get_vara_text(ncid, var, start, count, all.data()), NC_NOERR);
    std::vector<std::string> out;
    for (int r = 0; r < records; ++r)
        out.push_back(std::string(&all[static_cast<size_t>(r * width)], static_cast<size_t>(width))
                          .c_str());
    return out;
}

// The first n values of a record of a variable (n = 1 for a single value).
template <class T>
std::vector<T> row(int ncid, const char* name, int record, int n)
{
    int var = -1;
    std::vector<T> v(static_cast<size_t>(n));
    const size_t start[] = {static_cast<size_t>(record), 0}, count[] = {1, static_cast<size_t>(n)};
    EXPECT_EQ(nc_inq_varid(ncid, name, &var), NC_NOERR);
    EXPECT_EQ(nc_get_vara(ncid, var, start, count, v.data()), NC_NOERR);
    return v;
}

#endif
