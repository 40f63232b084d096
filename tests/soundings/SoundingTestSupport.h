// What the satellite sounding tests share: the run-time data of the source
// tree in a test tree (site lists, grid resolutions, profile tables, the
// templates made from their CDL), sounding messages from the test BUFR
// writer, and readers of the stored records.
#ifndef SOUNDINGTESTSUPPORT_H
#define SOUNDINGTESTSUPPORT_H

#include "BufrFileDecoder.h"
#include "BufrWriter.h"
#include "Cdl.h"
#include "PlainBufrDecoder.h"
#include "StoreClock.h"
#include "TempTree.h"
#include "../e2e/DecoderInstallation.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace soundings {

inline std::string sourceData(const std::string& name)
{
    return TempTree::readFile(std::string(QEV_SOURCE_DIR) + "/data/" + name);
}

// The folder the information-file search finds the site lists and grid
// resolutions in: the search path is built once per process, so it is the
// process's own folder, fixed before the first test tree moves QEV_HOME.
inline std::string infoDir()
{
    static const std::string dir = [] {
        const std::string d = std::string(std::getenv("QEV_HOME")) + "/info/";
        std::filesystem::create_directories(d);
        setenv("FILE_SERVER_DEFAULT_PATHS", d.c_str(), 1);
        return d;
    }();
    return dir;
}

inline int noPause(unsigned long) { return 0; }
inline void noStorePause(int) {}

// The BUFR tables of the source tree, loaded by the process's first decoder;
// the pauses between files and of the store's new data files skipped.
class ProcessTables : public testing::Environment {
    void SetUp() override
    {
        infoDir();
        const std::string saved = std::getenv("QEV_HOME");
        setenv("QEV_HOME", QEV_SOURCE_DIR, 1);
        PlainBufrDecoder first;
        setenv("QEV_HOME", saved.c_str(), 1);
        ASSERT_TRUE(BufrDecoder::tablesLoaded());
        BufrFileDecoder::setSleeper(noPause);
        StoreClock::set(nullptr, noStorePause);
    }
};

// One data subset: (descriptor, value) in data order; NaN is missing.
typedef std::vector<std::pair<int, double> > Elements;

// A message of the subsets, all of the first one's descriptors.
inline BufrWriter::Bytes message(const std::vector<Elements>& subsets)
{
    BufrWriter w;
    w.category(3).dateTime(2024, 6, 1, 12, 0).subsets(static_cast<int>(subsets.size()));
    std::vector<int> descriptors;
    for (const auto& e : subsets.at(0))
        descriptors.push_back(e.first);
    w.descriptors(descriptors);
    for (const Elements& s : subsets)
        for (const auto& e : s)
            w.element(e.first, e.second);
    BufrWriter::Bytes m = w.build();
    EXPECT_TRUE(w.ok()) << w.error();
    return m;
}

inline void append(Elements& to, const Elements& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

// A test tree holding the data types' run-time data and empty stores made
// from the templates of the source tree.
class SoundingTree : public testing::Test {
protected:
    void SetUp() override
    {
        QEV_REQUIRE_NCGEN();
        for (const char* name : {"poesBufr.spi", "goesBufr.spi", "poesBufrInfo.txt",
                                 "goesBufrInfo.txt"})
            std::ofstream(info + name, std::ios::trunc) << sourceData(name);
        for (const char* name : {"POESProfDescTable.txt", "GOESProfDescTable.txt",
                                 "POESBufrPattern.txt", "GOESBufrPattern.txt"})
            tree.write(std::string("qev_home/data/") + name, sourceData(name));
        makeStore("POES", sourceData("templates/poesSounding.cdl"));
        makeStore("GOES", sourceData("templates/goesSounding.cdl"));
    }
    void makeStore(const std::string& type, const std::string& cdl)
    {
        tree.mkdirs("qev_data/ispan/bufr/" + type + "Soundings");
        std::string error;
        ASSERT_TRUE(Cdl::make(cdl, tree.mkdirs("qev_data/point/" + type + "/netcdf") +
                                       "/template", &error))
            << error;
    }
    std::string store(const std::string& type) const
    {
        return tree.path("qev_data/point/" + type + "/netcdf");
    }

    std::string info = infoDir();
    TempTree tree;
};

// The data files of a store (not its template), sorted.
inline std::vector<std::string> dataFiles(const std::string& dir)
{
    std::vector<std::string> files;
    for (const std::string& f : TempTree::listFiles(dir))
        if (f[0] >= '0' && f[0] <= '9')
            files.push_back(dir + "/" + f);
    return files;
}

// A data file open for reading (read through the end-to-end readers).
struct Records {
    explicit Records(const std::string& path) { nc_open(path.c_str(), NC_NOWRITE, &id); }
    ~Records() { nc_close(id); }
    // A single value in any numeric type.
    double number(const char* name, int record) const
    {
        int var = -1;
        double value = -1;
        const size_t index[] = {static_cast<size_t>(record), 0};
        EXPECT_EQ(nc_inq_varid(id, name, &var), NC_NOERR);
        EXPECT_EQ(nc_get_var1_double(id, var, index, &value), NC_NOERR);
        return value;
    }
    std::string text(const char* name, int record) const { return texts(id, name, record + 1, 6)[record]; }
    int id = -1;
};

} // namespace soundings

#endif
