// The model sounding decoder without the process: its model designator, its
// two tables, the forecast times, the profile gathering and the writes by
// variable type.  Messages come from the test BUFR writer; variables are read
// back with the netCDF library.
#include "BufrWriter.h"
#include "Cdl.h"
#include "InfoFileServer.h"
#include "LogCapture.h"
#include "LogStream.h"
#include "ModelBufrDecoder.h"
#include "TempTree.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The folder the information-file search finds the station table in.  The
// search path is built once per process, so it is the process's own folder
// (the test main's QEV_HOME), fixed before the first test tree moves QEV_HOME.
std::string infoDir()
{
    static const std::string dir = [] {
        const std::string d = std::string(std::getenv("QEV_HOME")) + "/data/";
        std::filesystem::create_directories(d);
        setenv("FILE_SERVER_DEFAULT_PATHS", d.c_str(), 1);
        return d;
    }();
    return dir;
}

// The records of an open netCDF file: the length of its unlimited dimension.
size_t recordCount(int ncid)
{
    int unlimited = -1;
    size_t records = 0;
    nc_inq_unlimdim(ncid, &unlimited);
    nc_inq_dimlen(ncid, unlimited, &records);
    return records;
}

class ModelDecoder : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_STREQ(InfoFileServer::searchList()[0].c_str(), dir.c_str());
        stations("725090|KBOS|BOSTON\n744860|KJFK|NEW YORK\n");
        tree.write("qev_home/data/modelBufrPattern.txt",
                   "Model sounding patterns: 2\nJUSA[4-7] ^[4-7][1-9]$\nJUSB      [\n");
        tree.write("qev_home/data/modelProfDescTable.txt",
                   "# profiles\n7004|PRESSURE\n12101|TEMPERATURE\n12198|LYRSOILTEMP\n"
                   "13002|MIXRATIO\n");
    }
    void stations(const std::string& text) const
    {
        std::ofstream(dir + "modelBufrStationInfo.txt", std::ios::trunc) << text;
    }
    // A standard message of the soundings given: per station its id, its
    // forecast time in seconds, then its pressure and temperature levels and
    // one soil temperature; the run is that of run[] (year to minute).
    struct Station {
        const char* id;
        double offset;
        std::vector<double> pressures;
    };
    BufrWriter::Bytes message(const std::vector<Station>& list, int edition = 3,
                              int category = 2) const
    {
        BufrWriter w(edition);
        w.centre(7).masterTableVersion(39, 1).category(category);
        w.dateTime(run[0], run[1], run[2], run[3], run[4]).subsets(static_cast<int>(list.size()))
            .descriptors({1198, 4194, 13002, 102000, 31001, 7004, 12101, 101000, 31001, 12198});
        for (const Station& s : list) {
            w.chars(1198, s.id).element(4194, s.offset).element(13002, 0.001);
            w.factor(31001, static_cast<unsigned>(s.pressures.size()));
            for (double p : s.pressures)
                w.element(7004, p).element(12101, 250.0 + p / 1000.0);
            w.factor(31001, 1).element(12198, 280.0);
        }
        return w.build();
    }

    std::string dir = infoDir();
    TempTree tree;
    int run[5] = {2024, 6, 1, 12, 0};
};

} // namespace

// 4 to 7 name the models; 8 and a letter are refused.  A prefix without
// designators (JUSB: its expression does not compile) takes its model from
// the file's own name, never from the file before it.
TEST_F(ModelDecoder, TheDesignatorDigitNamesTheModelOfEachFile)
{
    LogCapture opening;
    ModelBufrDecoder decoder;
    // A template that is not there says why.
    EXPECT_TRUE(opening.contains("PROBLEM: Unable to open " +
                                 tree.path("qev_data/point/model/ETA/netcdf/template") +
                                 ", No such file or directory"))
        << opening.text();
    decoder.getBufrPattern();
    const struct {
        const char* name;
        bool accepted;
        const char* model;
        const char* line;
    } cases[] = {
        {"JUSA41_x", true, "ETA", nullptr},
        {"JUSA51_x", true, "RUC", nullptr},
        {"JUSA61_x", true, "AVN", nullptr},
        {"JUSA71_x", true, "NGM", nullptr},
        {"JUSA81_x", false, "", "PROBLEM: Unknown WMO model designator: 8"},
        {"JUSAX1_x", false, "", "PROBLEM: Unknown WMO model designator: 0"},
        {"JUSB61_x", true, "AVN", nullptr},
        {"JUSB91_x", true, "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        EXPECT_EQ(decoder.checkFileName(c.name), c.accepted);
        EXPECT_STREQ(decoder.currentModelName().c_str(), c.model);
        if (c.line) {
            EXPECT_TRUE(log.contains(c.line)) << log.text();
        }
    }
    // A file of no model is kept for a look, not stored.
    const BufrWriter::Bytes one = message({{"KBOS", 0, {90000}}});
    ASSERT_TRUE(decoder.decode(one.data(), static_cast<unsigned>(one.size())));
    LogCapture log;
    EXPECT_EQ(decoder.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("PROBLEM: No model known for this data file."));
    // A sounding without its station id would pair the others wrongly.
    EXPECT_TRUE(decoder.checkFileName("JUSA41_x"));
    const BufrWriter::Bytes m =
        message({{"KBOS", 0, {90000}}, {"", 0, {90000}}, {"KJFK", 0, {90000}}});
    ASSERT_TRUE(decoder.decode(m.data(), static_cast<unsigned>(m.size())));
    decoder.setLevelCounts(1, 1);
    EXPECT_EQ(decoder.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("PROBLEM: The file holds 2 station ids and 3 forecast times for 3 "
                             "soundings.  Not stored, skipping to next file."))
        << log.text();
}

// A bulletin of another kind in the model queue (here a file of two
// aircraft report messages, whose tail numbers are texts like a station id)
// is set aside as what it is, in one line, never dropped as soundings of
// another localization.
TEST_F(ModelDecoder, ABulletinOfAnotherKindIsSetAsideAsSuchInOneLine)
{
    const std::string in = tree.mkdirs("qev_data/ispan/bufr/modelSoundings/NAM");
    tree.mkdirs("qev_data/ispan/badModelBufr");
    BufrWriter w(4);
    w.category(4).dateTime(2024, 6, 1, 12, 0).descriptors({1008, 301011, 301012, 5001, 6001});
    w.chars(1008, "KBOS").element(4001, 2024).element(4002, 6).element(4003, 1)
        .element(4004, 12).element(4005, 10).element(5001, 40.5).element(6001, -73.5);
    BufrWriter::Bytes file = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    file.insert(file.end(), file.begin(), file.end());
    ASSERT_TRUE(BufrWriter::writeFile(in + "/JUSA41_KWBC_other", file));
    ModelBufrDecoder decoder;
    LogCapture log;
    decoder.processBufrDirectory();
    const std::string reason = "Not a model sounding (data category 4): the bulletin holds no "
                               "forecast time (0 04 194).";
    EXPECT_EQ(log.count(reason), 2) << log.text();
    EXPECT_TRUE(log.contains("PROBLEM: " + reason + "  Not stored, skipping to next file."));
    EXPECT_TRUE(log.contains("PROBLEM: " + reason + " (2 of 2 messages) " + in +
                             "/JUSA41_KWBC_other, renamed to "));
    EXPECT_TRUE(TempTree::exists(tree.path("qev_data/ispan/badModelBufr/JUSA41_KWBC_other")));
}

// Soundings in a message of another data category are of another kind;
// section 1 gives the category at octet 9 in edition 3, at octet 11 in
// edition 4.
TEST_F(ModelDecoder, AMessageOfAnotherDataCategoryIsNoSounding)
{
    ModelBufrDecoder decoder;
    decoder.getBufrPattern();
    for (int edition : {3, 4})
        for (int category : {0, 2, 3, 4, 13, 31, 239, 240, 255}) {
            SCOPED_TRACE(std::to_string(edition) + "/" + std::to_string(category));
            const BufrWriter::Bytes m = message({{"KBOS", 0, {90000}}}, edition, category);
            ASSERT_TRUE(decoder.checkFileName("JUSA41_x"));
            ASSERT_TRUE(decoder.decode(m.data(), static_cast<unsigned>(m.size())));
            LogCapture log;
            decoder.write2NetcdfFile();
            const bool sounding = category == 2 || category == 13 || category >= 240;
            EXPECT_EQ(log.contains("PROBLEM: Not a model sounding (data category " +
                                   std::to_string(category) + "): its category is none of"),
                      !sounding)
                << log.text();
        }
}

// Comments, blanks, line endings and corrupted lines of the two tables.
TEST_F(ModelDecoder, TablesSkipCommentsStripLineEndsAndStopAtACorruptedLine)
{
    ModelBufrDecoder decoder;
    EXPECT_STREQ(decoder.getDataTypeName().c_str(), "Model Soundings");
    EXPECT_EQ(decoder.getTimeout(), 36000);
    const struct {
        const char* text;
        bool ok;
        std::vector<const char*> local, foreign;
        const char* line;
    } cases[] = {
        {"# 1|KORD\n123|KDEN\r\n725090|KSEA  |SEATTLE\n", true, {"KDEN", "KSEA"}, {"KORD"}, nullptr},
        {"123|KATL\n456\n789|KMIA\n", false, {"KATL"}, {"KMIA"},
         "PROBLEM: Line corrupted in modelBufrStationInfo.txt [456]"},
        {"1|KPHX\n\n2|KIAH\n", false, {"KPHX"}, {"KIAH"}, "Line corrupted in "},
        {"", true, {}, {}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        stations(c.text);
        LogCapture log;
        EXPECT_EQ(decoder.readStationTable(), c.ok);
        for (const char* id : c.local)
            EXPECT_TRUE(decoder.isLocalStation(id));
        for (const char* id : c.foreign)
            EXPECT_FALSE(decoder.isLocalStation(id));
        if (c.line) {
            EXPECT_TRUE(log.contains(c.line)) << log.text();
        }
    }
    tree.write("qev_home/data/modelProfDescTable.txt", "7004|PRESSURE\r\n7004|PRES  \n12101\n");
    LogCapture log;
    EXPECT_FALSE(decoder.readProfileDescTable());
    EXPECT_TRUE(log.contains("modelProfDescTable.txt [12101]"));
    TextString name;
    ASSERT_TRUE(decoder.profileDescriptors().find(7004, nullptr, &name));
    EXPECT_STREQ(name.c_str(), "PRES");
}

// Without its station list the decoder keeps every file.
TEST_F(ModelDecoder, WithoutTheStationListFilesAreKept)
{
    std::filesystem::remove(dir + "modelBufrStationInfo.txt");
    LogCapture log;
    ModelBufrDecoder decoder;
    EXPECT_TRUE(log.contains("Unable to initialize station list table for decoding.  Can't "
                             "decode files."));
    EXPECT_STREQ(decoder.getDataTypeName().c_str(), "");
    decoder.getBufrPattern();
    const BufrWriter::Bytes one = message({{"KBOS", 0, {90000}}});
    ASSERT_TRUE(decoder.decode(one.data(), static_cast<unsigned>(one.size())));
    EXPECT_TRUE(decoder.checkFileName("JUSA41_x"));
    EXPECT_EQ(decoder.write2NetcdfFile(), -1);
    EXPECT_TRUE(log.contains("is not loaded.  Not stored, keeping the file."));
}

// Forecast times from a 12:00 run; profiles of two stations, the second
// shorter: its upper level holds the fill, not the first station's value.
// Each profile value carries its profile's name and its level.
TEST_F(ModelDecoder, ForecastTimesAndProfilesOfEachStation)
{
    ModelBufrDecoder decoder;
    const BufrWriter::Bytes m =
        message({{"KBOS", 0, {100000, 85000}}, {"KJFK", 10800, {99000}}, {"KBOS", 21600, {}}});
    ASSERT_TRUE(decoder.decode(m.data(), static_cast<unsigned>(m.size())));
    SeqOf<double> offsets;
    const SeqOf<AbsTime> times = decoder.computeTimes(offsets);
    ASSERT_EQ(times.length(), 3);
    const AbsTime noon(2024, 6, 1, 12, 0, 0);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(times[k], noon + 10800 * k);
        EXPECT_EQ(offsets[k], 10800.0 * k);
    }

    // A forecast time that is missing, or that 2 01 YYY widened past the
    // seconds a time can take, gives its sounding no time and says why; the
    // others keep theirs.
    const struct {
        double offset;
        const char* why;
    } bad[] = {
        {BufrWriter::missingValue(), "its forecast time (0 04 194) is missing"},
        {34359738368.0, "its forecast time, 34359738368 s after the run, lies past 2038-01-19 "
                        "03:14:07, the last second a time holds"},
    };
    for (const auto& b : bad) {
        BufrWriter w(3);
        w.centre(7).masterTableVersion(39, 1).category(2).dateTime(2024, 6, 1, 12, 0).subsets(3);
        w.descriptors({1198, 201140, 4194, 201000, 101000, 31001, 7004, 101000, 31001, 12198});
        for (double offset : {0.0, b.offset, 3600.0}) {
            w.chars(1198, "KBOS").op(201140).element(4194, offset).op(201000);
            w.factor(31001, 1).element(7004, 90000).factor(31001, 1).element(12198, 280);
        }
        const BufrWriter::Bytes widened = w.build();
        ModelBufrDecoder other;
        ASSERT_TRUE(other.decode(widened.data(), static_cast<unsigned>(widened.size())));
        SeqOf<double> seconds;
        SeqOf<TextString> unheld;
        const SeqOf<AbsTime> at = other.computeTimes(seconds, &unheld);
        ASSERT_EQ(at.length(), 3);
        ASSERT_EQ(unheld.length(), 3);
        EXPECT_EQ(at[0], noon);
        EXPECT_EQ(at[2], noon + 3600);
        EXPECT_EQ(at[1].seconds(), 0);
        EXPECT_STREQ(unheld[0].c_str(), "");
        EXPECT_STREQ(unheld[1].c_str(), b.why);
        EXPECT_STREQ(unheld[2].c_str(), "");
    }

    decoder.setLevelCounts(2, 1);
    ASSERT_TRUE(decoder.preProcess());
    const SeqOf<SeqOf<float> >& pressures = decoder.profileList(0);
    ASSERT_EQ(pressures.length(), 3);
    EXPECT_EQ(pressures[0][0], 100000.0f);
    EXPECT_EQ(pressures[0][1], 85000.0f);
    EXPECT_EQ(pressures[1][0], 99000.0f);
    EXPECT_EQ(pressures[1][1], ModelBufrDecoder::PROFILE_FILL);
    EXPECT_EQ(pressures[2][0], ModelBufrDecoder::PROFILE_FILL);
    EXPECT_EQ(decoder.profileList(15)[2][0], 280.0f);

    std::vector<std::string> marks;
    std::vector<int> levels;
    SeqOf<BufrValues>& values = decoder.getDecodedValues();
    for (int i = 0; i < values.length(); ++i) {
        if (values[i].getSubset() == 0 && values[i].getCharValue().length() > 0) {
            marks.push_back(values[i].getCharValue().c_str());
            levels.push_back(decoder.levelIndex(i));
        }
    }
    EXPECT_EQ(marks, (std::vector<std::string>{"KBOS", "Time", "MIXRATIO", "PRESSURE",
                                               "TEMPERATURE", "PRESSURE", "TEMPERATURE",
                                               "LYRSOILTEMP"}));
    EXPECT_EQ(levels, (std::vector<int>{0, 0, 0, 0, 0, 1, 1, 0}));

    // Each station's counts are its own replication factors.
    for (int s = 0; s < 3; ++s) {
        EXPECT_EQ(decoder.stationLevels(s), 2 - s);
        EXPECT_EQ(decoder.stationSoilLayers(s), 1);
    }
}

// Levels beyond the template's level dimensions: each station keeps the
// levels that fit, with its own count, and the bulletin is set aside with
// the reason.  Levels repeated 65534 times (0 31 012 over one element) in a
// bulletin of a few kilobytes make no array longer than the template's.
TEST_F(ModelDecoder, LevelsBeyondTheTemplateKeepThoseThatFitAndSetTheFileAside)
{
    QEV_REQUIRE_NCGEN();
    std::string cdl = TempTree::readFile(std::string(QEV_SOURCE_DIR) +
                                         "/data/templates/modelSounding.cdl");
    cdl.replace(cdl.find("maxProfLvls = 64"), 16, "maxProfLvls = 2");
    const std::string dir = tree.mkdirs("qev_data/point/model/ETA/netcdf");
    ASSERT_TRUE(Cdl::make(cdl, dir + "/template"));
    BufrWriter repeated(3);
    repeated.centre(7).masterTableVersion(39, 1).category(2).dateTime(2024, 6, 8, 12, 0);
    repeated.subsets(1000).descriptors({1198, 4194, 101000, 31012, 7004, 101000, 31001, 12198});
    for (int s = 0; s < 1000; ++s) {
        repeated.chars(1198, s ? "KJFK" : "KBOS").element(4194, 0);
        repeated.factor(31012, s == 0 ? 65534 : 0);
        if (s == 0)
            repeated.element(7004, 90000);
        repeated.factor(31001, 1).element(12198, 280);
    }
    const struct {
        BufrWriter::Bytes message;
        const char* file;
        const char* reason;
        std::vector<float> first;
    } cases[] = {
        {message({{"KBOS", 0, {100000, 90000, 85000}}, {"KJFK", 0, {}}}), "/20240601_1200",
         "PROBLEM: Sounding KBOS gives 3 levels, the store holds 2.  The levels past those are "
         "not stored.",
         {100000, 90000}},
        {repeated.build(), "/20240608_1200",
         "PROBLEM: Sounding KBOS gives 65534 levels, the store holds 2.",
         {90000, 90000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        ModelBufrDecoder decoder;
        decoder.getBufrPattern();
        ASSERT_TRUE(decoder.checkFileName("JUSA41_x"));
        ASSERT_TRUE(decoder.decode(c.message.data(), static_cast<unsigned>(c.message.size())));
        LogCapture log;
        EXPECT_EQ(decoder.write2NetcdfFile(), -1);
        EXPECT_TRUE(log.contains(c.reason)) << log.text();
        int ncid = -1, var = -1, counts[2] = {-1, -1};
        float pressure[3] = {0, 0, 0};
        ASSERT_EQ(nc_open((dir + c.file).c_str(), NC_NOWRITE, &ncid), NC_NOERR);
        const size_t start[] = {0, 0}, count[] = {1, 2}, second[] = {1, 0};
        nc_inq_varid(ncid, "pressure", &var);
        EXPECT_EQ(nc_get_vara_float(ncid, var, start, count, pressure), NC_NOERR);
        nc_inq_varid(ncid, "numProfLvls", &var);
        nc_get_var1_int(ncid, var, start, &counts[0]);
        nc_get_var1_int(ncid, var, second, &counts[1]);
        nc_close(ncid);
        EXPECT_EQ(std::vector<float>(pressure, pressure + 2), c.first);
        EXPECT_EQ(counts[0], 2);
        EXPECT_EQ(counts[1], 0);
    }
}

// A sounding without a forecast time is refused alone with its line, the
// others stored, and the bulletin set aside naming it; a message without a
// run time (section 1 gives none) stores nothing, never a run of 1970.  Of a
// run of 2038-01-17 00 UTC the forecasts a time holds are stored in the file
// of the run, one past 2038-01-19 03:14:07 (54 h) is refused the same way.
TEST_F(ModelDecoder, ASoundingWithoutATimeTheStoreHoldsIsRefusedAlone)
{
    QEV_REQUIRE_NCGEN();
    const std::string store = tree.mkdirs("qev_data/point/model/ETA/netcdf");
    ASSERT_TRUE(Cdl::make(TempTree::readFile(std::string(QEV_SOURCE_DIR) +
                                             "/data/templates/modelSounding.cdl"),
                          store + "/template"));
    // The bulletin of the stations at the run of run[]: set aside, with the
    // line given once.
    const auto write = [&](const std::vector<Station>& list, const std::string& line) {
        const BufrWriter::Bytes m = message(list);
        ModelBufrDecoder decoder;
        decoder.getBufrPattern();
        ASSERT_TRUE(decoder.checkFileName("JUSA41_x"));
        ASSERT_TRUE(decoder.decode(m.data(), static_cast<unsigned>(m.size())));
        LogCapture log;
        EXPECT_EQ(decoder.write2NetcdfFile(), -1);
        EXPECT_EQ(log.count("PROBLEM: " + line), 1) << log.text();
    };
    const double missing = BufrWriter::missingValue();
    for (int month : {6, 13}) {
        SCOPED_TRACE(month);
        run[1] = month;
        write({{"KBOS", 0, {100000}}, {"KDEN", missing, {99000}}, {"KATL", 21600, {98000}}},
              month == 6 ? "Sounding 2 (KDEN): its forecast time (0 04 194) is missing.  Not "
                           "stored."
                         : "The message has no run time: its section 1 time has an impossible "
                           "month 13.  Not stored, skipping to next file.");
    }
    {
        int ncid = -1, var = -1;
        ASSERT_EQ(nc_open((store + "/20240601_1200").c_str(), NC_NOWRITE, &ncid), NC_NOERR);
        ASSERT_EQ(recordCount(ncid), 2u);
        char id[10] = {};
        const size_t start[] = {1, 0}, count[] = {1, 9};
        double valid = 0;
        nc_inq_varid(ncid, "stationId", &var);
        nc_get_vara_text(ncid, var, start, count, id);
        nc_inq_varid(ncid, "validTime", &var);
        nc_get_var1_double(ncid, var, start, &valid);
        nc_close(ncid);
        EXPECT_STREQ(id, "KATL");
        EXPECT_EQ(valid, AbsTime(2024, 6, 1, 18, 0, 0).seconds());
    }
    for (const std::string& name : TempTree::listFiles(store))
        EXPECT_NE(name.compare(0, 2, "19"), 0) << name;
    const int day[5] = {2038, 1, 17, 0, 0};
    std::copy(day, day + 5, run);
    write({{"KBOS", 0, {100000}}, {"KJFK", 24 * 3600, {99000}}, {"KBOS", 54 * 3600, {98000}}},
          "Sounding 3 (KBOS): its forecast time, 194400 s after the run, lies past 2038-01-19 "
          "03:14:07, the last second a time holds.  Not stored.");
    int ncid = -1, var = -1;
    ASSERT_EQ(nc_open((store + "/20380117_0000").c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    const size_t records = recordCount(ncid);
    EXPECT_EQ(records, 2u);
    double valid[2] = {0, 0};
    nc_inq_varid(ncid, "validTime", &var);
    for (size_t r = 0; r < 2 && r < records; ++r)
        nc_get_var1_double(ncid, var, &r, &valid[r]);
    nc_close(ncid);
    EXPECT_EQ(valid[0], 2147299200.0);
    EXPECT_EQ(valid[1], 2147299200.0 + 86400);
}

// Values go to their template variable by its type, at [record, index];
// ints are clamped, chars padded; profiles are written whole at their first
// level; the level counts at the record.
TEST_F(ModelDecoder, ValuesAreWrittenByVariableTypeAtTheirRecordAndIndex)
{
    QEV_REQUIRE_NCGEN();
    // The file written, and the same layout as the ETA template (whose
    // "tblBname" the decoder reads; the store refuses the layout).
    const std::string cdl = "netcdf t {\ndimensions:\n rec = UNLIMITED ;\n n = 4 ;\n len = 6 ;\n"
                            "variables:\n int i(rec) ;\n float f(rec, n) ;\n double d(rec) ;\n"
                            " char c(rec, len) ;\n byte b(rec) ;\n int numProfLvls(rec) ;\n"
                            " int numSoilLvls(rec) ;\n float pressure(rec, n) ;\n"
                            "  pressure:tblBname = \"PRESSURE\" ;\n"
                            "  pressure:_FillValue = 1.e37f ;\ndata:\n i = 0, 0, 0 ;\n}\n";
    const std::string path = tree.path("store.nc");
    tree.mkdirs("qev_data/point/model/ETA/netcdf");
    ASSERT_TRUE(Cdl::make(cdl, path));
    ASSERT_TRUE(Cdl::make(cdl, tree.path("qev_data/point/model/ETA/netcdf/template")));
    int ncid = -1;
    ASSERT_EQ(nc_open(path.c_str(), NC_WRITE, &ncid), NC_NOERR);
    ModelBufrDecoder decoder;
    const size_t at2[NC_MAX_VAR_DIMS] = {2, 0};
    const size_t at13[NC_MAX_VAR_DIMS] = {1, 3};
    decoder.putValue(ncid, "i", "", 3e9f, at2);
    decoder.putValue(ncid, "f", "", 2.5f, at13);
    decoder.putValue(ncid, "d", "", -99999.0f, at2);
    decoder.putValue(ncid, "c", "KBOS", 0, at2);
    decoder.putValue(ncid, "b", "", 7, at2);
    decoder.setLevelCounts(3, 1);
    EXPECT_EQ(decoder.putLevelCounts(ncid, 1), NC_NOERR);
    {
        LogCapture log;
        decoder.putValue(ncid, "missing", "", 1, at2);
        EXPECT_TRUE(log.contains("PROBLEM: Unable to write missing at record 2: ")) << log.text();
    }
    // A decoded station at record 0: its pressure profile in one write.
    const BufrWriter::Bytes m = message({{"KBOS", 0, {100000, 85000}}});
    ASSERT_TRUE(decoder.decode(m.data(), static_cast<unsigned>(m.size())));
    decoder.setLevelCounts(2, 1);
    ASSERT_TRUE(decoder.preProcess());
    decoder.selectModel(ModelBufrDecoder::ETA);
    for (int v = 0; v < decoder.getDecodedValues().length(); ++v)
        decoder.storeValues(ncid, 0, v);
    nc_close(ncid);

    ASSERT_EQ(nc_open(path.c_str(), NC_NOWRITE, &ncid), NC_NOERR);
    int var = -1, i = 0, counts[2] = {0, 0};
    float f = 0;
    double d = 0;
    char c[7] = "xxxxxx";
    signed char b = 0;
    const size_t r1[] = {1, 3}, r2[] = {2, 0}, start[] = {2, 0}, count[] = {1, 6};
    nc_inq_varid(ncid, "i", &var);
    nc_get_var1_int(ncid, var, r2, &i);
    EXPECT_EQ(i, INT_MAX);
    nc_inq_varid(ncid, "f", &var);
    nc_get_var1_float(ncid, var, r1, &f);
    EXPECT_EQ(f, 2.5f);
    nc_inq_varid(ncid, "d", &var);
    nc_get_var1_double(ncid, var, r2, &d);
    EXPECT_EQ(d, -99999.0);
    nc_inq_varid(ncid, "c", &var);
    nc_get_vara_text(ncid, var, start, count, c);
    EXPECT_EQ(std::string(c, 6), std::string("KBOS\0\0", 6));
    nc_inq_varid(ncid, "b", &var);
    nc_get_var1_schar(ncid, var, r2, &b);
    EXPECT_NE(b, 7);
    for (int k = 0; k < 2; ++k) {
        nc_inq_varid(ncid, k ? "numSoilLvls" : "numProfLvls", &var);
        nc_get_var1_int(ncid, var, r1, &counts[k]);
    }
    EXPECT_EQ(counts[0], 3);
    EXPECT_EQ(counts[1], 1);
    float profile[4] = {0, 0, 0, 0};
    const size_t row[] = {0, 0}, rowCount[] = {1, 4};
    nc_inq_varid(ncid, "pressure", &var);
    nc_get_vara_float(ncid, var, row, rowCount, profile);
    EXPECT_EQ(std::vector<float>(profile, profile + 4),
              (std::vector<float>{100000, 85000, 1e37f, 1e37f}));
    nc_close(ncid);
}
