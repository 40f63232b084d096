// What the tests of the aircraft report and satellite wind decoders share:
// the notification server of the test process, the run-time data of a test
// tree (pattern files, templates from the project's CDL) and readers of the
// stored records through the netCDF library.
#ifndef REPORTSTESTSUPPORT_H
#define REPORTSTESTSUPPORT_H

#include "AbsTime.h"
#include "BufrFileDecoder.h"
#include "Cdl.h"
#include "DataTime.h"
#include "IPC_Target.h"
#include "PlainBufrDecoder.h"
#include "StoreClock.h"
#include "TempTree.h"
#include "WirePeer.h"
#include "dmNotify.h"
#include "ipcInitialise.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

// The notification server of the whole test process, and the process's BUFR
// tables: the named targets are read once per process, from the process's
// own QEV_HOME, before any test tree moves it; the first decoder of the
// process loads the tables from $QEV_HOME/data, here the source tree's.
inline WirePeer& notificationServer()
{
    static WirePeer* peer = [] {
        const std::string home = std::getenv("QEV_HOME");
        setenv("QEV_HOME", QEV_SOURCE_DIR, 1);
        { PlainBufrDecoder first; }
        setenv("QEV_HOME", home.c_str(), 1);
        WirePeer* p = new WirePeer();
        const std::string data = home + "/data";
        std::filesystem::create_directories(data);
        std::ofstream(data + "/qev.config")
            << WirePeer::namedTargetsConfig({p->namedTargetEntry("NOTIFICATION_SERVER")});
        ipcInitialise();
        IPC_Target named(TextString("NOTIFICATION_SERVER"), true);
        return p;
    }();
    return *peer;
}

// The notifications that arrived since the mark, as (key, reference time).
struct NotificationMark {
    std::size_t from = notificationServer().count(2, 10);

    std::vector<std::pair<uint32_t, int32_t>> since(std::size_t expected) const
    {
        WirePeer& peer = notificationServer();
        peer.waitForCount(2, 10, from + expected, 5000);
        std::vector<std::pair<uint32_t, int32_t>> out;
        std::size_t seen = 0;
        for (const WirePeer::Message& m : peer.messages()) {
            if (m.module == 2 && m.type == 10 && seen++ >= from)
                out.emplace_back(m.key, m.dataTime.refTime);
        }
        return out;
    }
    // Whether none came since the mark: one of the test's own (key 1), sent
    // after them over the same connection, is the first to arrive.
    bool none() const
    {
        dmNotify(1, DataTime(AbsTime(1)));
        const auto got = since(1);
        return got.size() == 1 && got[0].first == 1u;
    }
};

// A test tree with the run-time data of one data type: its pattern file
// (from the project's data/), its point-data directory with the template
// made from the project's CDL (edited), and its ingest and bad-file
// directories; the pauses between files and of the store are skipped.
struct ReportsTree {
    TempTree tree;

    ReportsTree()
    {
        notificationServer();
        BufrFileDecoder::setSleeper([](unsigned long) { return 0; });
        StoreClock::set(nullptr, [](int) {});
    }
    ~ReportsTree()
    {
        BufrFileDecoder::setSleeper(nullptr);
        StoreClock::set(nullptr, nullptr);
    }

    static std::string projectFile(const std::string& rel)
    {
        std::ifstream in(std::string(QEV_SOURCE_DIR) + "/" + rel);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void pattern(const std::string& name) const
    {
        tree.write("qev_home/data/" + name, projectFile("data/" + name));
    }
    // Each edit replaces its first text by its second.
    void templateFile(const std::string& cdl, const std::string& storeDir,
                      const std::vector<std::pair<std::string, std::string>>& edits = {}) const
    {
        std::string text = projectFile("data/templates/" + cdl);
        for (const auto& e : edits) {
            const std::size_t at = text.find(e.first);
            ASSERT_NE(at, std::string::npos) << e.first;
            text.replace(at, e.first.size(), e.second);
        }
        std::string error;
        tree.mkdirs("qev_data/" + storeDir);
        ASSERT_TRUE(Cdl::make(text, tree.qevData() + "/" + storeDir + "/template", &error))
            << error;
    }
    void directories(const std::string& ingest, const std::string& bad) const
    {
        tree.mkdirs("qev_data/" + ingest);
        tree.mkdirs("qev_data/" + bad);
    }
    std::string data(const std::string& rel) const { return tree.qevData() + "/" + rel; }
    // The only data file of a store directory, cut to nothing as another
    // process could: what is written into it after cannot be synced.
    std::string cutDataFile(const std::string& storeDir) const
    {
        const std::string file = dataFiles(storeDir).at(0);
        std::filesystem::resize_file(file, 0);
        return file;
    }
    // The data files of a store directory (its template and pass journal
    // left out).
    std::vector<std::string> dataFiles(const std::string& storeDir) const
    {
        std::vector<std::string> files;
        for (const std::string& f : TempTree::listFiles(data(storeDir)))
            if (f != "template" && f != "passJournal" && f.find('.') == std::string::npos)
                files.push_back(data(storeDir) + "/" + f);
        return files;
    }
};

// A stored file read back with the netCDF library.
class StoredFile {
public:
    explicit StoredFile(const std::string& path)
    {
        EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &_ncid), NC_NOERR) << path;
    }
    ~StoredFile() { nc_close(_ncid); }

    size_t records() const
    {
        int dim = -1;
        size_t n = 0;
        nc_inq_unlimdim(_ncid, &dim);
        nc_inq_dimlen(_ncid, dim, &n);
        return n;
    }
    double number(const char* var, size_t record) const
    {
        int id = -1;
        double value = -1e30;
        EXPECT_EQ(nc_inq_varid(_ncid, var, &id), NC_NOERR) << var;
        size_t index[2] = {record, 0};
        EXPECT_EQ(nc_get_var1_double(_ncid, id, index, &value), NC_NOERR) << var;
        return value;
    }
    // The whole row, NUL bytes included.
    std::string row(const char* var, size_t record) const
    {
        int id = -1, dims[2];
        size_t width = 0;
        nc_inq_varid(_ncid, var, &id);
        nc_inq_vardimid(_ncid, id, dims);
        nc_inq_dimlen(_ncid, dims[1], &width);
        std::string text(width, '?');
        size_t start[2] = {record, 0}, count[2] = {1, width};
        EXPECT_EQ(nc_get_vara_text(_ncid, id, start, count, &text[0]), NC_NOERR) << var;
        return text;
    }

private:
    int _ncid = -1;
};

#endif
