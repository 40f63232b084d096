// What the end-to-end tests of the decoder process share for model
// soundings: an installation made of the project's run-time data and
// template (one store per model), a notification server, the sample
// generator's bulletins with the soundings they carry, and checks of what
// the data files hold, read with the netCDF library and with a store of
// this process.
#ifndef MODELINSTALLATION_H
#define MODELINSTALLATION_H

#include "Cdl.h"
#include "LogCapture.h"
#include "ModelSoundingSamples.h"
#include "NetcdfPointData.h"
#include "TempTree.h"
#include "WirePeer.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

const std::string source = QEV_SOURCE_DIR;
const char* const modelNames[] = {"ETA", "RUC", "AVN", "NGM"};

// One bulletin of a model and forecast hour, and its soundings.
struct ModelBulletin {
    int model = 0;
    SampleBulletin sample;
    std::vector<ModelSoundingSamples::Sounding> soundings;
};

inline SampleOptions sampleOptions(int stations)
{
    SampleOptions options;
    options.dataDir = source + "/data";
    options.stations = stations;
    return options;
}

// The bulletin of a model's soundings.
inline ModelBulletin modelBulletin(int model,
                                   const std::vector<ModelSoundingSamples::Sounding>& soundings)
{
    ModelBulletin b;
    b.model = model;
    b.soundings = soundings;
    std::string error;
    EXPECT_TRUE(ModelSoundingSamples::encode(b.soundings,
                                             sampleOptions(static_cast<int>(soundings.size())),
                                             b.sample, error))
        << error;
    return b;
}

// Every model's bulletins for forecast hours 0, 3, ... below hours, for
// the first stations of the station table, in the decoder's (sorted)
// order.
inline std::vector<ModelBulletin> modelBulletins(int stations, int hours)
{
    std::vector<ModelSoundingSamples::Station> all;
    std::string error;
    EXPECT_TRUE(ModelSoundingSamples::readStations(source + "/data/modelBufrStationInfo.txt", all,
                                                   error))
        << error;
    std::vector<ModelBulletin> out;
    for (int m = 0; m < 4; ++m)
        for (int hour = 0; hour < hours; hour += 3) {
            std::vector<ModelSoundingSamples::Sounding> soundings;
            for (int s = 0; s < stations && s < static_cast<int>(all.size()); ++s)
                soundings.push_back(ModelSoundingSamples::sounding(all[s], m, hour));
            out.push_back(modelBulletin(m, soundings));
        }
    return out;
}

// The decoder's installation and data trees: the project's run-time data,
// a configuration naming `notices` the notification server, the four model
// stores made from the project's template, the log preferences given.
struct ModelInstallation {
    explicit ModelInstallation(const std::string& logPref)
    {
        const fs::path data = fs::path(tree.qevHome()) / "data";
        for (const fs::directory_entry& e : fs::directory_iterator(source + "/data"))
            if (e.is_regular_file())
                fs::create_symlink(e.path(), data / e.path().filename());
        tree.write("qev_home/data/qev.config",
                   WirePeer::namedTargetsConfig({notices.namedTargetEntry("NOTIFICATION_SERVER")}));
        tree.setEnv("LOG_PREF", tree.write("pref", logPref).c_str());
        std::ifstream in(source + "/data/templates/modelSounding.cdl");
        std::stringstream cdl;
        cdl << in.rdbuf();
        std::string error;
        EXPECT_TRUE(Cdl::make(cdl.str(), tree.path("modelSounding"), &error)) << error;
        for (int m = 0; m < 4; ++m)
            fs::copy_file(tree.path("modelSounding"), tree.mkdirs(storeRel(m)) + "/template");
    }
    static std::string storeRel(int model)
    {
        return std::string("qev_data/point/model/") + modelNames[model] + "/netcdf";
    }
    std::string storeDir(int model) const { return tree.path(storeRel(model)); }
    void drop(const ModelBulletin& b) const
    {
        tree.write("qev_data/ispan/bufr/modelSoundings/NAM/" + b.sample.name,
                   std::string(b.sample.bytes.begin(), b.sample.bytes.end()));
    }

    TempTree tree;
    std::string in = tree.mkdirs("qev_data/ispan/bufr/modelSoundings/NAM");
    std::string bad = tree.mkdirs("qev_data/ispan/badModelBufr");
    WirePeer notices;
};

// One record of a model data file.
struct StoredSounding {
    std::string file;
    int record = 0;
    std::string id;
    double refTime = 0, validTime = 0;
    int levels = 0;
    std::vector<float> pressure;
};

// The data files of a store directory (named by their time).
inline std::vector<std::string> dataFiles(const std::string& dir)
{
    std::vector<std::string> files;
    for (const std::string& f : TempTree::listFiles(dir)) {
        bool timeName = f.size() == 13;
        for (size_t i = 0; timeName && i < f.size(); ++i)
            timeName = i == 8 ? f[i] == '_' : f[i] >= '0' && f[i] <= '9';
        if (timeName)
            files.push_back(dir + "/" + f);
    }
    return files;
}

// Every record of every data file of the directory; a file that does not
// open, or whose variables do not read, fails the test.
inline std::vector<StoredSounding> readStored(const std::string& dir)
{
    std::vector<StoredSounding> out;
    for (const std::string& file : dataFiles(dir)) {
        int ncid = -1, recDim = -1;
        size_t records = 0;
        if (nc_open(file.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) {
            ADD_FAILURE() << file << " does not open with the netCDF library";
            continue;
        }
        nc_inq_unlimdim(ncid, &recDim);
        nc_inq_dimlen(ncid, recDim, &records);
        const size_t n = records;
        std::vector<char> ids(n * 9 + 1);
        std::vector<double> refs(n), valids(n);
        std::vector<int> levels(n);
        std::vector<float> pressure(n * 64);
        const size_t start[] = {0, 0}, idCount[] = {n, 9}, count[] = {n, 64};
        int var = -1;
        bool ok = n == 0 ||
                  (nc_inq_varid(ncid, "stationId", &var) == NC_NOERR &&
                   nc_get_vara_text(ncid, var, start, idCount, ids.data()) == NC_NOERR &&
                   nc_inq_varid(ncid, "refTime", &var) == NC_NOERR &&
                   nc_get_vara_double(ncid, var, start, count, refs.data()) == NC_NOERR &&
                   nc_inq_varid(ncid, "validTime", &var) == NC_NOERR &&
                   nc_get_vara_double(ncid, var, start, count, valids.data()) == NC_NOERR &&
                   nc_inq_varid(ncid, "numProfLvls", &var) == NC_NOERR &&
                   nc_get_vara_int(ncid, var, start, count, levels.data()) == NC_NOERR &&
                   nc_inq_varid(ncid, "pressure", &var) == NC_NOERR &&
                   nc_get_vara_float(ncid, var, start, count, pressure.data()) == NC_NOERR);
        EXPECT_TRUE(ok) << file << ": the records do not read";
        for (size_t r = 0; ok && r < n; ++r) {
            StoredSounding s;
            s.file = file;
            s.record = static_cast<int>(r);
            s.id = std::string(&ids[r * 9], 9).c_str();
            s.refTime = refs[r];
            s.validTime = valids[r];
            s.levels = levels[r];
            s.pressure.assign(pressure.begin() + static_cast<long>(r * 64),
                              pressure.begin() + static_cast<long>(r * 64 + 64));
            out.push_back(s);
        }
        EXPECT_EQ(nc_close(ncid), NC_NOERR);
    }
    return out;
}

// A model's records by station and valid time; a station and time held by
// two records (a sounding stored twice) fails the test.
typedef std::map<std::pair<std::string, double>, StoredSounding> StoredByKey;
inline StoredByKey storedByKey(const std::string& dir)
{
    StoredByKey out;
    for (const StoredSounding& s : readStored(dir)) {
        const auto key = std::make_pair(s.id, s.validTime);
        EXPECT_EQ(out.count(key), 0u) << s.file << ": " << s.id << " at " << s.validTime
                                      << " in records " << out[key].record << " and " << s.record;
        out[key] = s;
    }
    return out;
}

// Whether the model's records hold every sounding of the bulletin, whole.
inline bool holdsBulletin(const StoredByKey& stored, const ModelBulletin& b)
{
    const double step = 5.1;   // half a unit of the pressure's last coded digit is 5 Pa
    for (const ModelSoundingSamples::Sounding& s : b.soundings) {
        const double run = 1717243200, valid = run + 3600.0 * s.forecastHour;
        const auto it = stored.find(std::make_pair(s.station.id, valid));
        if (it == stored.end() || it->second.refTime != run)
            return false;
        const int n = ModelSoundingSamples::levelCount(s.model);
        if (it->second.levels != n)
            return false;
        for (int k = 0; k < n; ++k)
            if (!(std::fabs(it->second.pressure[k] - s.levels[0][k]) < step))
                return false;
    }
    return true;
}

// A new store of the directory in this process, as a restarted writer
// makes it, places each record's station and times at that record: its file
// list, station table, chains and times agree with the records.  The store
// works on a copy, since the decoder may still hold the directory's lock.
inline void expectStorePlaces(const std::string& dir, const std::vector<StoredSounding>& records)
{
    LogCapture log;
    const std::string copy = dir + ".check";
    std::filesystem::remove_all(copy);
    std::filesystem::copy(dir, copy);
    std::unique_ptr<NetcdfPointData> store(new NetcdfPointData(copy.c_str(), true, false));
    for (const StoredSounding& s : records) {
        SeqOf<TextString> ids;
        ids.append(TextString(s.id.c_str()));
        SeqOf<double> times;
        times.append(s.refTime);
        times.append(s.validTime);
        int record = -1;
        bool isNew = true;
        int* handle = store->getFileHandleAndRecord(ids, times, record, isNew);
        ASSERT_NE(handle, nullptr) << s.file << " record " << s.record << "\n" << log.text();
        EXPECT_FALSE(isNew) << s.file << " record " << s.record << " (" << s.id << ")";
        EXPECT_EQ(record, s.record) << s.file << " (" << s.id << ")";
        EXPECT_TRUE(store->releaseHandle(handle));
    }
    store.reset();
    std::filesystem::remove_all(copy);
    EXPECT_FALSE(log.contains("Format or ownership problems")) << log.text();
    EXPECT_FALSE(log.contains("named record")) << log.text();
}

} // namespace e2e

#endif
