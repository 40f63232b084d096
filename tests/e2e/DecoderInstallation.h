// What an end-to-end test runs the decoder program in: an installation
// ($QEV_HOME/data linked to the project's run-time data, a configuration
// naming the test peer as the notification server, every project template
// made by ncgen in the point-data directories its CDL names), the test peer
// as parent, data controller and notification server, and the decoder as
// its child for one data type name.  Plus readers of the stored variables.
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
#include <memory>
#include <string>
#include <vector>

class DecoderInstallation {
public:
    // The data type name the decoder is started with, its ingest and
    // bad-file directories below $QEV_DATA/ispan.
    DecoderInstallation(const std::string& type, const std::string& ingest, const std::string& bad)
        : in(tree.mkdirs("qev_data/ispan/" + ingest)), bad(tree.mkdirs("qev_data/ispan/" + bad)),
          _type(type), _ingest("qev_data/ispan/" + ingest + "/")
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
            const std::string cdl = TempTree::readFile(e.path().string());
            for (const std::string& dir : Cdl::pointDirectories(cdl)) {
                std::string error;
                EXPECT_TRUE(Cdl::make(cdl, tree.mkdirs("qev_data/point/" + dir) + "/template",
                                      &error))
                    << error;
            }
        }
    }

    void start()
    {
        child.reset(new DecoderChild(std::string(QEV_BIN_DIR) + "/decoder",
                                     {peer.targetText(), "3", _type}, tree.path("child.log")));
        ASSERT_TRUE(peer.waitFor(1, 0, 30000, &ready)) << child->log();
        connection = peer.connectTo(ready.sender);
        ASSERT_GE(connection, 0);
    }
    // A bulletin into the ingest directory, under its own or another name.
    void drop(const SampleBulletin& b, const std::string& name = "") const
    {
        tree.write(_ingest + (name.empty() ? b.name : name),
                   std::string(b.bytes.begin(), b.bytes.end()));
    }
    // A bulletin into another decoder's ingest directory (below $QEV_DATA),
    // for a process of several data types.
    void dropInto(const std::string& ingest, const SampleBulletin& b) const
    {
        tree.write("qev_data/" + ingest + "/" + b.name, std::string(b.bytes.begin(), b.bytes.end()));
    }
    // A data message carrying text; true when the ReadyMsg after it came.
    bool announce(const std::string& text = std::string(40, 'x'))
    {
        return peer.sendData(connection, 1, text) && peer.waitFor(1, 0, 30000);
    }
    // A data message announcing a file as a data controller does: its
    // product id (the 6 characters 5 after the first ".") is the file name's
    // first 6, which select the decoder in a process of several data types.
    bool announceFile(const std::string& name)
    {
        return announce("KWBC.0000" + name + " " + std::string(30, ' '));
    }
    // The data files of a point-data directory (below $QEV_DATA/point): the
    // names of a time stamp ("%Y%m%d_%H%M"); full paths, sorted.
    std::vector<std::string> dataFiles(const std::string& pointDir) const
    {
        const std::string dir = tree.path("qev_data/point/" + pointDir);
        std::vector<std::string> files;
        for (const std::string& name : TempTree::listFiles(dir))
            if (name.size() == 13 && name[8] == '_' &&
                name.find_first_not_of("0123456789_") == std::string::npos)
                files.push_back(dir + "/" + name);
        return files;
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
    std::string in;
    std::string bad;
    WirePeer peer;
    WirePeer::Message ready;
    int connection = -1;
    std::unique_ptr<DecoderChild> child;

private:
    std::string _type;
    std::string _ingest;
};

// The record count of an open data file.
inline size_t recordCount(int ncid)
{
    size_t records = 0;
    int recordDim = -1;
    nc_inq_unlimdim(ncid, &recordDim);
    nc_inq_dimlen(ncid, recordDim, &records);
    return records;
}

// Opens a data file, reads every variable whole and closes it: its record
// count, or -1 after a test failure naming what could not be read.
inline long readWhole(const std::string& path)
{
    int ncid = -1, variables = 0;
    if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) {
        ADD_FAILURE() << "cannot open " << path;
        return -1;
    }
    bool ok = nc_inq_nvars(ncid, &variables) == NC_NOERR;
    for (int var = 0; ok && var < variables; ++var) {
        nc_type type;
        int ndims = 0, dims[NC_MAX_VAR_DIMS];
        size_t size = 0, length = 0;
        ok = nc_inq_var(ncid, var, nullptr, &type, &ndims, dims, nullptr) == NC_NOERR &&
             nc_inq_type(ncid, type, nullptr, &size) == NC_NOERR;
        for (int d = 0; ok && d < ndims; ++d, size *= length)
            ok = nc_inq_dimlen(ncid, dims[d], &length) == NC_NOERR;
        std::vector<char> values(size + 1);
        ok = ok && nc_get_var(ncid, var, values.data()) == NC_NOERR;
        if (!ok)
            ADD_FAILURE() << "cannot read variable " << var << " of " << path;
    }
    const long records = ok ? static_cast<long>(recordCount(ncid)) : -1;
    if (nc_close(ncid) != NC_NOERR) {
        ADD_FAILURE() << "cannot close " << path;
        return -1;
    }
    return records;
}

// The rows of a char(record, width) variable, each cut at its first NUL.
inline std::vector<std::string> texts(int ncid, const char* name, int records, int width)
{
    int var = -1;
    std::vector<char> all(static_cast<size_t>(records * width));
    const size_t start[] = {0, 0},
                 count[] = {static_cast<size_t>(records), static_cast<size_t>(width)};
    EXPECT_EQ(nc_inq_varid(ncid, name, &var), NC_NOERR);
    EXPECT_EQ(nc_get_vara_text(ncid, var, start, count, all.data()), NC_NOERR);
    std::vector<std::string> out;
    for (int r = 0; r < records; ++r)
        out.push_back(std::string(&all[static_cast<size_t>(r * width)], static_cast<size_t>(width))
                          .c_str());
    return out;
}

// The first n values of a record of a (record) or (record, level) variable.
template <class T>
std::vector<T> row(int ncid, const char* name, int record, int n)
{
    int var = -1;
    std::vector<T> v(static_cast<size_t>(n));
    const size_t start[] = {static_cast<size_t>(record), 0},
                 count[] = {1, static_cast<size_t>(n)};
    EXPECT_EQ(nc_inq_varid(ncid, name, &var), NC_NOERR) << name;
    EXPECT_EQ(nc_get_vara(ncid, var, start, count, v.data()), NC_NOERR) << name;
    return v;
}

#endif
