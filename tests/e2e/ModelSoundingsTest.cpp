// Model soundings end to end: the sample generator's bulletins, read by
// ecCodes as an independent decoder, and the decoder program as a child of
// the test peer storing them into the model point-data files from the
// project's own run-time data and templates.
#include "DecoderInstallation.h"
#include "DecoderProcess.h"
#include "EcCodesDump.h"
#include "EcCodesTools.h"
#include "ModelInstallation.h"
#include "ModelSoundingSamples.h"
#include "ProfilerSamples.h"
#include "TempTree.h"
#include "groupedDigits.h"
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
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string source = QEV_SOURCE_DIR;
const char* const models[] = {"ETA", "RUC", "AVN", "NGM"};

SampleOptions options(int stations)
{
    SampleOptions o;
    o.dataDir = source + "/data";
    o.stations = stations;
    return o;
}

// The bulletin of one model and forecast hour for the first stations.
SampleBulletin bulletin(int model, int hour, int stations,
                        std::vector<ModelSoundingSamples::Sounding>* soundings = nullptr)
{
    std::vector<ModelSoundingSamples::Station> all;
    std::string error;
    EXPECT_TRUE(ModelSoundingSamples::readStations(source + "/data/modelBufrStationInfo.txt", all,
                                                   error))
        << error;
    std::vector<ModelSoundingSamples::Sounding> list;
    for (int s = 0; s < stations; ++s)
        list.push_back(ModelSoundingSamples::sounding(all[s], model, hour));
    SampleBulletin b;
    EXPECT_TRUE(ModelSoundingSamples::encode(list, options(stations), b, error)) << error;
    if (soundings)
        *soundings = list;
    return b;
}

// Half a unit of an element's last coded digit.
double step(int descriptor)
{
    const std::map<int, int> scales = {{7004, -1}, {12101, 2}};
    return 0.5 * std::pow(10.0, -scales.at(descriptor)) + 1e-6;
}

// The decoder's installation for model soundings.
struct Installation : DecoderInstallation {
    Installation() : DecoderInstallation("Model", "bufr/modelSoundings/NAM", "badModelBufr") {}
};

} // namespace

// Every bulletin is one FM 94 edition 3 message that ecCodes decodes, with
// the centre's local elements from the project's merged table B, to the
// values the generator meant.
TEST(ModelSamples, EcCodesDecodesTheBulletinsToTheGeneratedValues)
{
    EcCodesTools tools;
    if (!tools.missing().empty())
        GTEST_SKIP() << tools.missingReason();
    std::vector<SampleBulletin> all;
    std::string error;
    ASSERT_TRUE(ModelSoundingSamples::make(options(2), all, error)) << error;
    ASSERT_EQ(all.size(), 4u * ModelSoundingSamples::FORECAST_HOURS);

    TempTree tree;
    // ecCodes' table of centre 7, local version 1: the local entries of table B.
    std::ofstream local(tree.mkdirs("defs/bufr/tables/0/local/1/7/0") + "/element.table");
    tree.write("defs/bufr/tables/0/local/1/7/0/sequence.def", "");
    std::ifstream tableB(source + "/data/bufrTableB");
    for (std::string line; std::getline(tableB, line);) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '|');)
            f.push_back(field);
        if (f.size() != 6 || std::stoi(f[0].substr(3)) < 192)
            continue;
        const char* type = f[2] == "CCITT IA5" ? "string" : std::stoi(f[3]) > 0 ? "double" : "long";
        local << f[0] << "|local" << f[0] << "|" << type << "|" << f[1] << "|" << f[2] << "|"
              << f[3] << "|" << f[4] << "|" << f[5] << "|" << f[2] << "|0|0\n";
    }
    local.close();
    tools.setDefinitionOverlay(tree.path("defs"));

    std::vector<ModelSoundingSamples::Sounding> soundings;
    const SampleBulletin b = bulletin(2, 24, 2, &soundings);
    EXPECT_EQ(b.name, "JUSA61_KWBC_2024060112_f024");
    EXPECT_EQ(std::string(b.bytes.begin(), b.bytes.begin() + 19), "JUSA61 KWBC 011200\r");
    const std::string path = tree.write(b.name, std::string(b.bytes.begin(), b.bytes.end()));
    EcCodesDump dump;
    ASSERT_TRUE(tools.dump(path, dump, error)) << error;
    std::vector<std::string> ids;
    std::vector<double> forecast, pressure, temperature;
    for (const std::vector<EcCodesDump::Value>& subset : dump.subsets())
    for (const EcCodesDump::Value& v : subset) {
        if (v.descriptor == 1198)
            ids.push_back(v.text);
        else if (v.descriptor == 4194)
            forecast.push_back(v.number);
        else if (v.descriptor == 7004)
            pressure.push_back(v.number);
        else if (v.descriptor == 12101)
            temperature.push_back(v.number);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"KBOS", "KJFK"}));
    EXPECT_EQ(forecast, (std::vector<double>{86400, 86400}));
    ASSERT_EQ(pressure.size(), 2u * ModelSoundingSamples::levelCount(2));
    for (size_t k = 0; k < pressure.size(); ++k) {
        const ModelSoundingSamples::Sounding& s = soundings[k / ModelSoundingSamples::levelCount(2)];
        const size_t level = k % ModelSoundingSamples::levelCount(2);
        EXPECT_NEAR(pressure[k], s.levels[0][level], step(7004));
        EXPECT_NEAR(temperature[k], s.levels[1][level], step(12101));
    }
    EXPECT_GT(pressure.front(), 90000.0);
    EXPECT_NEAR(pressure[static_cast<size_t>(ModelSoundingSamples::levelCount(2)) - 1], 10000.0, 5.1);
}

// Two bulletins announced by two data messages: one record per station and
// forecast hour, ids, both times, the level counts and the levels as
// generated, one notification per station with its model's key and the
// forecast period; SIGTERM closes every data file.
TEST(ModelSoundings, BulletinsAnnouncedByDataMessagesAreStoredAndNotified)
{
    QEV_REQUIRE_NCGEN();
    Installation p;
    p.start();
    std::vector<ModelSoundingSamples::Sounding> eta, avn;
    p.drop(bulletin(0, 0, 3, &eta));
    ASSERT_TRUE(p.announce()) << p.child->log();
    p.drop(bulletin(2, 3, 2, &avn));
    ASSERT_TRUE(p.announce()) << p.child->log();
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    EXPECT_TRUE(TempTree::listFiles(p.bad).empty());

    ASSERT_TRUE(p.peer.waitForCount(2, 10, 5, 10000)) << p.child->log();
    const std::vector<WirePeer::Message> notices = p.notifications();
    ASSERT_EQ(notices.size(), 5u);
    const int32_t run = 1717243200;    // 2024-06-01 12:00 UTC
    for (size_t i = 0; i < notices.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(notices[i].key, i < 3 ? 10001u : 10002u);
        EXPECT_EQ(notices[i].dataTime.flags, 0x700u);
        EXPECT_EQ(notices[i].dataTime.refTime, run);
        EXPECT_EQ(notices[i].dataTime.fcstPeriod, i < 3 ? 0 : 10800);
    }

    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    EXPECT_EQ(p.child->waitExit(20000), 0) << p.child->log();
    for (int m : {0, 2}) {
        SCOPED_TRACE(models[m]);
        const std::vector<ModelSoundingSamples::Sounding>& stored = m ? avn : eta;
        const std::string file = p.tree.path(std::string("qev_data/point/model/") + models[m] +
                                             "/netcdf/20240601_1200");
        int ncid = -1;
        ASSERT_EQ(nc_open(file.c_str(), NC_NOWRITE, &ncid), NC_NOERR);
        const size_t records = recordCount(ncid);
        ASSERT_EQ(records, stored.size());
        const std::vector<std::string> ids = texts(ncid, "stationId", static_cast<int>(records), 9);
        for (size_t r = 0; r < records; ++r) {
            const ModelSoundingSamples::Sounding& s = stored[r];
            const int n = ModelSoundingSamples::levelCount(m);
            EXPECT_EQ(ids[r], s.station.id);
            EXPECT_EQ(row<double>(ncid, "refTime", static_cast<int>(r), 1)[0], run);
            EXPECT_EQ(row<double>(ncid, "validTime", static_cast<int>(r), 1)[0],
                      run + 3600.0 * s.forecastHour);
            EXPECT_EQ(row<int>(ncid, "numProfLvls", static_cast<int>(r), 1)[0], n);
            EXPECT_EQ(row<int>(ncid, "numSoilLvls", static_cast<int>(r), 1)[0],
                      ModelSoundingSamples::soilLayerCount(m));
            const std::vector<float> pressure = row<float>(ncid, "pressure", static_cast<int>(r), 64);
            for (int k = 0; k < n; ++k)
                EXPECT_NEAR(pressure[k], s.levels[0][k], step(7004));
            EXPECT_EQ(pressure[n], 1e37f);
            EXPECT_NEAR(row<float>(ncid, "latitude", static_cast<int>(r), 1)[0],
                        s.station.latitude, 0.006);
        }
        EXPECT_EQ(nc_close(ncid), NC_NOERR);
    }
}

// A file of an unknown model digit, a file that does not decode and a file
// whose model store has a broken template go to the bad-file directory; the
// process keeps serving.
TEST(ModelSoundings, RefusedFilesLeaveTheIngestDirectoryAndTheProcessRuns)
{
    QEV_REQUIRE_NCGEN();
    Installation p;
    ASSERT_TRUE(Cdl::make("netcdf t {\ndimensions:\n recNum = UNLIMITED ;\nvariables:\n"
                          " float x(recNum) ;\n}\n",
                          p.tree.path("qev_data/point/model/NGM/netcdf/template")));
    p.start();
    const SampleBulletin good = bulletin(0, 0, 1);
    p.drop(good, "JUSA81_KWBC_unknown");
    p.drop(SampleBulletin{"JUSA41_KWBC_corrupt", {'B', 'U', 'F', 'R', 0, 0, 9, 3}});
    p.drop(bulletin(3, 6, 1));
    ASSERT_TRUE(p.announce()) << p.child->log();
    EXPECT_TRUE(TempTree::listFiles(p.in).empty());
    EXPECT_EQ(TempTree::listFiles(p.bad),
              (std::vector<std::string>{"JUSA41_KWBC_corrupt", "JUSA71_KWBC_2024060112_f006",
                                        "JUSA81_KWBC_unknown"}));
    const std::string log = p.child->log();
    EXPECT_NE(log.find("PROBLEM: Unknown WMO model designator: 8"), std::string::npos);
    EXPECT_NE(log.find("Unable to parse " + p.in + "/JUSA41_KWBC_corrupt"), std::string::npos);
    EXPECT_NE(log.find("No point-data store for NGM in "), std::string::npos);
    EXPECT_NE(log.find("Unable to write netcdf data. " + p.in + "/JUSA71_KWBC"), std::string::npos);
    EXPECT_TRUE(p.notifications().empty());

    p.drop(good);
    ASSERT_TRUE(p.announce()) << p.child->log();
    EXPECT_TRUE(p.peer.waitForCount(2, 10, 1, 10000));
    p.child->signal(SIGTERM);
    EXPECT_EQ(p.child->waitExit(20000), 0);
}

// A file of three messages whose sender lost the last 40 octets of the
// second, for model soundings and for uncompressed profiler bulletins: the
// first and the third are stored, nothing of the second (never read from
// the third's octets), and the file is set aside with a line naming the
// second message, its octet in the file and why it was refused.  Likewise
// an NPN bulletin cut where a CAP bulletin follows whose "7777" lands on
// its declared end: the CAP bulletin is stored, nothing of the NPN one,
// and the file set aside naming the NPN one.
TEST(ModelSoundings, AMessageCutShortIsRefusedAndTheOthersOfItsFileAreStored)
{
    QEV_REQUIRE_NCGEN();
    DecoderInstallation p("model_prof", "bufr/modelSoundings/NAM", "badModelBufr");
    p.tree.mkdirs("qev_data/ispan/bufr/prof");
    p.tree.mkdirs("qev_data/ispan/badProfiler");
    p.start();
    // ETA at f000, f003 and f006; NPN at 10, 11 and 12 UTC.
    const std::vector<e2e::ModelBulletin> eta = e2e::modelBulletins(3, 9);
    std::vector<SampleBulletin> npn;
    std::string error;
    SampleOptions o;
    o.dataDir = source + "/data";
    std::vector<SampleBulletin> profilers;
    ASSERT_TRUE(ProfilerSamples::make(o, profilers, error)) << error;
    for (const SampleBulletin& b : profilers)
        if (b.name.compare(0, 6, "IUPT43") == 0)
            npn.push_back(b);
    ASSERT_EQ(npn.size(), 3u);
    const struct {
        std::string ingest, bad;
        std::vector<SampleBulletin> messages;
    } files[] = {{"bufr/modelSoundings/NAM", "badModelBufr",
                  {eta[0].sample, eta[1].sample, eta[2].sample}},
                 {"bufr/prof", "badProfiler", npn}};
    for (const auto& f : files) {
        const std::string name = f.messages[0].name;
        SCOPED_TRACE(name);
        std::vector<std::string> messages;
        for (const SampleBulletin& b : f.messages)
            messages.emplace_back(b.bytes.begin(), b.bytes.end());
        // The second's "BUFR" in the file, its declared length, and the
        // third's "BUFR" in the file.
        const size_t second = messages[0].size() + messages[1].find("BUFR");
        const size_t declared = messages[1].size() - messages[1].find("BUFR");
        const size_t third = second + declared - 40 + messages[2].find("BUFR");
        const std::string file =
            messages[0] + messages[1].substr(0, messages[1].size() - 40) + messages[2];
        const std::string in = p.tree.path("qev_data/ispan/" + f.ingest);
        const std::string bad = p.tree.path("qev_data/ispan/" + f.bad);
        const std::string line =
            "PROBLEM: Unable to parse (1 of 3 messages) " + in + "/" + name + ", renamed to " +
            bad + "/" + name + ": message 2 at octet " + groupedDigits(second) +
            ": Message of " + groupedDigits(declared) +
            " octets declared is cut short: another message begins at octet " +
            groupedDigits(third);
        p.tree.write("qev_data/ispan/" + f.ingest + "/" + name, file);
        ASSERT_TRUE(p.announceFile(name)) << p.child->log();
        EXPECT_TRUE(TempTree::listFiles(in).empty());
        EXPECT_EQ(TempTree::listFiles(bad), std::vector<std::string>{name});
        EXPECT_NE(p.child->log().find(line), std::string::npos) << line << "\n" << p.child->log();
    }
    {
        const SampleBulletin* cap = nullptr;
        for (const SampleBulletin& b : profilers)
            cap = b.name.compare(0, 6, "IUPT40") == 0 ? &b : cap;
        ASSERT_NE(cap, nullptr);
        const std::string cut(npn[1].bytes.begin(), npn[1].bytes.end());
        const std::string capFile(cap->bytes.begin(), cap->bytes.end());
        const std::string inner = capFile.substr(capFile.find("BUFR"));
        const size_t start = cut.find("BUFR");
        const size_t declared = cut.size() - start;
        const size_t innerAt = cut.size() - inner.size();
        const std::string name = npn[1].name;
        p.tree.write("qev_data/ispan/bufr/prof/" + name, cut.substr(0, innerAt) + inner);
        ASSERT_TRUE(p.announceFile(name)) << p.child->log();
        const std::string line = "PROBLEM: Unable to parse (1 of 2 messages) " + p.tree.path(
            "qev_data/ispan/bufr/prof/" + name) + ", renamed to " +
            p.tree.path("qev_data/ispan/badProfiler/" + name) + ": message 1 at octet " +
            groupedDigits(start) + ": Message of " + groupedDigits(declared) +
            " octets declared is cut short: a whole message lies inside it from octet " +
            groupedDigits(innerAt);
        EXPECT_NE(p.child->log().find(line), std::string::npos) << line << "\n" << p.child->log();
    }
    ASSERT_TRUE(p.child->waitAsleep(10000));
    p.child->signal(SIGTERM);
    ASSERT_EQ(p.child->waitExit(20000), 0) << p.child->log();

    const e2e::StoredByKey stored = e2e::storedByKey(p.tree.path("qev_data/point/model/ETA/netcdf"));
    EXPECT_EQ(stored.size(), 6u);
    EXPECT_TRUE(e2e::holdsBulletin(stored, eta[0]));
    EXPECT_TRUE(e2e::holdsBulletin(stored, eta[2]));
    const std::string npnStore = p.tree.path("qev_data/point/prof/netcdf");
    EXPECT_EQ(p.dataFiles("prof/netcdf"),
              (std::vector<std::string>{npnStore + "/20240601_1000", npnStore + "/20240601_1200"}));
    // Nothing of the NPN bulletin cut at 11 UTC; the CAP bulletin's two
    // stations at noon, in the store the file's name (IUPT43, NPN) picks.
    EXPECT_EQ(readWhole(npnStore + "/20240601_1000"), 6);
    EXPECT_EQ(readWhole(npnStore + "/20240601_1200"), 8);
}

// A record that a killed writer left with its station and times and no
// values (the record is committed before anything else, and its bookkeeping
// may or may not have reached the disk) is taken over by the same sounding
// stored again: one record per station and time, holding the sounding.
TEST(ModelSoundings, ARecordAKilledStoreLeftWithoutValuesIsTakenOverByItsSounding)
{
    QEV_REQUIRE_NCGEN();
    for (bool booked : {false, true}) {
        SCOPED_TRACE(booked ? "booked" : "not booked");
        e2e::ModelInstallation inst("all all tty verbose = on\n");
        const e2e::ModelBulletin b = e2e::modelBulletins(2, 3)[0];
        {
            // The writer's files as the kill left them: a copy taken while
            // it holds the record.
            const std::string scratch = inst.tree.mkdirs("killed");
            fs::copy_file(inst.storeDir(0) + "/template", scratch + "/template");
            std::unique_ptr<NetcdfPointData> store(new NetcdfPointData(scratch.c_str(), true, false));
            SeqOf<TextString> ids;
            ids.append(b.soundings[0].station.id.c_str());
            SeqOf<double> times;
            times.append(1717243200);
            times.append(1717243200);
            int record = -1;
            bool isNew = false;
            int* handle = store->getFileHandleAndRecord(ids, times, record, isNew);
            ASSERT_NE(handle, nullptr);
            ASSERT_TRUE(isNew);
            if (booked) {
                ASSERT_TRUE(store->releaseHandle(handle));
            }
            fs::copy_file(scratch + "/20240601_1200", inst.storeDir(0) + "/20240601_1200");
            if (!booked) {
                EXPECT_TRUE(store->releaseHandle(handle));
            }
        }
        DecoderProcess run(inst.notices, "Model", inst.tree.path("run.log"));
        ASSERT_TRUE(run.ready()) << run.child.log();
        inst.drop(b);
        ASSERT_TRUE(run.announce()) << run.child.log();
        EXPECT_EQ(run.stop(), 0);
        const e2e::StoredByKey stored = e2e::storedByKey(inst.storeDir(0));
        EXPECT_EQ(stored.size(), b.soundings.size());
        EXPECT_TRUE(e2e::holdsBulletin(stored, b)) << run.child.log();
        // Not booked: the record is taken again, or its bookkeeping, found
        // in part on the disk, made again from the records.
        const std::string log = run.child.log();
        EXPECT_EQ(log.find("was never booked; it is written again") != std::string::npos ||
                      log.find("was left half written") != std::string::npos,
                  !booked)
            << log;
    }
}
