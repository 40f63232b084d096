// What the satellite sounding tests share: the run-time data of the source
// tree in a test tree (site lists, grid resolutions, profile tables, the
// templates made from their CDL), sounding messages from the test BUFR
// writer, and a reader of the stored records.
#ifndef SOUNDINGTESTSUPPORT_H
#define SOUNDINGTESTSUPPORT_H

#include "BufrFileDecoder.h"
#include "BufrWriter.h"
#include "Cdl.h"
#include "PlainBufrDecoder.h"
#include "StoreClock.h"
#include "TempTree.h"

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
        if (!f.empty() && f[0] >= '0' && f[0] <= '9')
            files.push_back(dir + "/" + f);
    return files;
}

// The records of a data file, read with the netCDF library.
class Records {
public:
    explicit Records(const std::string& path) { nc_open(path.c_str(), NC_NOWRITE, &_ncid); }
    ~Records() { nc_close(_ncid); }
    size_t count() const
    {
        int dim = -1;
        size_t n = 0;
        nc_inq_unlimdim(_ncid, &dim);
        nc_inq_dimlen(_ncid, dim, &n);
        return n;
    }
    double number(const char* name, size_t record, size_t level = 0) const
    {
        int var = -1;
        double value = -1;
        const size_t index[2] = {record, level};
        if (nc_inq_varid(_ncid, name, &var) || nc_get_var1_double(_ncid, var, index, &value))
            ADD_FAILURE() << "cannot read " << name << " of record " << record;
        return value;
    }
    std::vector<double> profile(const char* name, size_t record, size_t levels) const
    {
        std::vector<double> values;
        for (size_t i = 0; i < levels; ++i)
            values.push_back(number(name, record, i));
        return values;
    }
    std::string text(const char* name, size_t record) const
    {
        int var = -1;
        char row[7] = {0};
        const size_t start[2] = {record, 0}, count[2] = {1, 6};
        nc_inq_varid(_ncid, name, &var);
        nc_get_vara_text(_ncid, var, start, count, row);
        return row;
    }

private:
    int _ncid = -1;
};

} // namespace soundings

#endif
