// Template analysis through getNetcdfPointData: good and bad templates made
// from CDL, every derived field of the layout and every rejection text.
#include "PointDataTestSupport.h"

#include "LogCapture.h"
#include "NetcdfIo.h"
#include "TempTree.h"

#include <functional>

namespace {

typedef std::vector<std::pair<std::string, std::string>> Edits;

const std::string BIN_DATA =
    "  firstInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n"
    "  lastInBin = -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 ;\n";
const std::string ATTRIBUTES = "// global attributes:\n";

class TemplateAnalysis : public ::testing::Test {
protected:
    void SetUp() override { QEV_REQUIRE_NCGEN(); }

    // A writable store over a new directory whose template is the CDL given.
    NetcdfPointData* store(const std::string& cdl, const std::string& overrides = "",
                           bool staticFile = false)
    {
        std::string dir = tree.mkdirs("store" + std::to_string(++_stores));
        std::string error;
        std::string path = staticFile ? dir + "/static.nc" : dir + "/template";
        EXPECT_TRUE(Cdl::make(cdl, path, &error)) << error;
        if (!overrides.empty())
            tree.write("store" + std::to_string(_stores) +
                           (staticFile ? "/static.nc.override" : "/template.override"),
                       overrides);
        return NetcdfPointData::getNetcdfPointData(staticFile ? path.c_str() : dir.c_str(),
                                                   !staticFile, staticFile);
    }

    TempTree tree;
    FakeStoreClock clock;
    int _stores = 0;
};

struct Rejection {
    const char* what;
    bool latLonBase;
    Edits edits;
    std::string overrides;
    const char* message;
};

TEST_F(TemplateAnalysis, RejectsBrokenLayoutsWithTheirReason)
{
    const std::vector<Rejection> cases = {
        {"filePeriod 59", false,
         {{":filePeriod = 3600", ":filePeriod = 59"}, {":fileEndOffset = 3599", ":fileEndOffset = 58"}},
         "", "File period of 59 is out of range"},
        {"filePeriod 86401", false, {{":filePeriod = 3600", ":filePeriod = 86401"}}, "",
         "File period of 86401 is out of range"},
        {"fileEndOffset = filePeriod", false, {{":fileEndOffset = 3599", ":fileEndOffset = 3600"}},
         "", "File end offset of 3600 is out of range"},
        {"lat/lon ids of 6", false,
         {{"\"stationId\"", "\"latitude,longitude\""}, {"totalIdLen = 8", "totalIdLen = 6"}}, "",
         "totalIdLen dimension must be at least 7 for lat/lon ids"},
        {"ids wider than a row", false, {{"totalIdLen = 8", "totalIdLen = 4"}}, "",
         "totalIdLen dimension too small for id data"},
        {"int inventory of 40 bins", false,
         {{"nInventoryBins = 12", "nInventoryBins = 40"}, {BIN_DATA, ""}}, "",
         "Inventory variables need to be chars when the number of bins is more than 32"},
        {"float time", false, {{"double timeObs", "float timeObs"}}, "",
         "Bad variable characteristics for variable timeObs"},
        {"int id", false, {{"char stationId", "int stationId"}}, "",
         "Bad variable characteristics for variable stationId"},
        {"int staticIds", false, {{"char staticIds", "int staticIds"}}, "",
         "Bad variable characteristics for variable staticIds"},
        {"double lastRecord", false, {{"int lastRecord", "double lastRecord"}}, "",
         "Bad variable characteristics for variable lastRecord"},
        {"no record dimension", false, {{"recNum = UNLIMITED", "recNum = 5"}}, "",
         "Could not get id of record dimension"},
        {"no isOverflow", false, {{"  int isOverflow(recNum) ;\n", ""}}, "",
         "Could not get variable id for isOverflow"},
        {"no prevRecord", false, {{"  int prevRecord(recNum) ;\n", ""}}, "",
         "If there are static tables and time varying data, the prevRecord variable must exist"},
        {"two default time candidates", false,
         {{"  :timeVariables = \"timeObs\" ;\n", ""},
          {"  float temperature", "  double reportTime(recNum) ;\n  float temperature"}},
         "", "No time variables identified"},
        {"record forecasts with one time", false,
         {{ATTRIBUTES, ATTRIBUTES + "  :have_forecasts = \"true\" ;\n"}}, "",
         "File with record based forecast times must have at least two time variables, for the "
         "reference and valid times, respectively"},
        {"forecast list too short", false,
         {{"  staNameLen = 6 ;\n", "  staNameLen = 6 ;\n  fcst = 3 ;\n"},
          {ATTRIBUTES,
           ATTRIBUTES + "  :have_forecasts = \"fcst\" ;\n  :forecast_list = \"0,3600\" ;\n"}},
         "",
         "If have_forecasts names a dimension then the forecast_list attribute must contain that "
         "many comma delimited integers that are forecast times represented by that dimension"},
        {"no bins", false, {}, "nInventoryBins 0\n", "Number of inventory bins 0 is out of range"},
        {"no table, no positions", true,
         {{"float latitude", "float lat"}, {"float longitude", "float lon"}}, "",
         "Missing maxStaticIds dimension incompatible  with no lat/lon data"},
        {"period without time", true,
         {{"  :timeVariables = \"validTime\" ;\n", ""},
          {"double validTime", "double valid"},
          {"  int prevRecord(recNum) ;\n", ""}},
         "", "Having no time variable inconsistent with defining the file period"},
    };
    for (const Rejection& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        std::string cdl = edited(c.latLonBase ? latLonStoreCdl() : idStoreCdl(), c.edits);
        EXPECT_EQ(store(cdl, c.overrides), nullptr);
        EXPECT_TRUE(log.contains(c.message)) << log.text();
    }
}

struct Layout {
    const char* what;
    bool latLonBase;
    Edits edits;
    std::function<void(const PointFileStructure&, NetcdfPointDataInspector&, LogCapture&)> check;
};

TEST_F(TemplateAnalysis, DerivesTheLayout)
{
    const std::vector<Layout> cases = {
        {"id store", false, {},
         [](const PointFileStructure& s, NetcdfPointDataInspector& in, LogCapture&) {
             EXPECT_EQ(s.cdlDate, "20070101");
             EXPECT_EQ(s.maxStaticIds, 4);
             EXPECT_EQ(s.totalIdLen, 8);
             EXPECT_EQ(s.startOffset, 0);
             EXPECT_EQ(s.binWidth, 300);
             EXPECT_EQ(in.filePeriod(), 3600);
             EXPECT_EQ(s.maxOpen, 2);
             EXPECT_FALSE(s.latLonIds || s.charInventories || s.recordForecasts || s.logRewrites);
             EXPECT_EQ(s.idLengths, SeqOf<int>(6));
             EXPECT_TRUE(s.timeVariables.length() == 1 && s.prevRecord >= 0 && s.invTime >= 0);
             SeqOf<int> entry;
             ASSERT_TRUE(s.variables.find("stationId", nullptr, &entry));
             EXPECT_EQ(entry.length(), 3);
             EXPECT_EQ(entry[1], 6);
             EXPECT_EQ(entry[2], NC_CHAR);
             EXPECT_FALSE(s.variables.find("staticIds") || s.variables.find("invTime"));
             SeqOf<int>* forecasts = in.store->forecastTimes();
             EXPECT_EQ(*forecasts, SeqOf<int>(0));
             delete forecasts;
         }},
        {"location store", true, {},
         [](const PointFileStructure& s, NetcdfPointDataInspector& in, LogCapture& log) {
             EXPECT_EQ(s.maxStaticIds, 0);
             EXPECT_TRUE(s.latLonIds);
             EXPECT_TRUE(in.noRecordMapping());
             EXPECT_EQ(s.totalIdLen, 13);
             EXPECT_EQ(s.idVariables.length(), 0);
             EXPECT_EQ(s.nStaticIds, -1);
             EXPECT_TRUE(log.contains("No maxStaticIds dimension means no record mapping"));
         }},
        {"default time variable", false, {{"  :timeVariables = \"timeObs\" ;\n", ""}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture& log) {
             EXPECT_EQ(s.timeVariables.length(), 1);
             EXPECT_TRUE(log.contains("Time variable defaults to timeObs"));
         }},
        {"other position names", true,
         {{"float latitude", "float lat"},
          {"float longitude", "float lon"},
          {ATTRIBUTES, ATTRIBUTES + "  :latLonVars = \"lat, lon\" ;\n"}},
         [](const PointFileStructure& s, NetcdfPointDataInspector& in, LogCapture&) {
             EXPECT_EQ(in.latLonNames(), "lat,lon");
             SeqOf<int> entry;
             ASSERT_TRUE(s.variables.find("latitude", nullptr, &entry));
             EXPECT_EQ(entry[0], s.latitude);
             EXPECT_EQ(entry[1], NC_FLOAT);
             EXPECT_TRUE(s.variables.find("lat"));
         }},
        {"max_open 45", false, {{ATTRIBUTES, ATTRIBUTES + "  :max_open = 45 ;\n"}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture&) {
             EXPECT_EQ(s.maxOpen, 30);
         }},
        {"max_open 0", false, {{ATTRIBUTES, ATTRIBUTES + "  :max_open = 0 ;\n"}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture&) {
             EXPECT_EQ(s.maxOpen, 1);
         }},
        {"max_open as text is absent", false, {{ATTRIBUTES, ATTRIBUTES + "  :max_open = \"0\" ;\n"}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture&) {
             EXPECT_EQ(s.maxOpen, 2);
         }},
        {"record forecasts", false,
         {{"  float latitude", "  double refTime(recNum) ;\n  float latitude"},
          {"\"timeObs\"", "\"refTime,timeObs\""},
          {"nInventoryBins = 12", "nInventoryBins = 24"},
          {BIN_DATA, ""},
          {":filePeriod = 3600", ":filePeriod = 86400"},
          {":fileEndOffset = 3599", ":fileEndOffset = 86400"},
          {ATTRIBUTES, ATTRIBUTES + "  :have_forecasts = \"true\" ;\n"}},
         [](const PointFileStructure& s, NetcdfPointDataInspector& in, LogCapture&) {
             EXPECT_TRUE(s.recordForecasts);
             EXPECT_TRUE(in.forecasts());
             EXPECT_EQ(s.startOffset, 0);
             EXPECT_EQ(s.binWidth, 3756);
             EXPECT_EQ(s.filePeriod, 3756);
             EXPECT_EQ(in.filePeriod(), 3756);
             SeqOf<int>* forecasts = in.store->forecastTimes();
             ASSERT_EQ(forecasts->length(), 24);
             EXPECT_EQ((*forecasts)[0], 0);
             EXPECT_EQ((*forecasts)[23], 86388);
             delete forecasts;
         }},
        {"forecast dimension", false,
         {{"  staNameLen = 6 ;\n", "  staNameLen = 6 ;\n  fcst = 3 ;\n"},
          {"  float temperature(recNum) ;\n", "  float temperature(recNum, fcst) ;\n"},
          {ATTRIBUTES,
           ATTRIBUTES + "  :have_forecasts = \"fcst\" ;\n  :forecast_list = \"0, 3600,7200\" ;\n"}},
         [](const PointFileStructure& s, NetcdfPointDataInspector& in, LogCapture&) {
             EXPECT_GE(s.forecastDim, 1);
             SeqOf<int> list(0);
             list.append(3600);
             list.append(7200);
             EXPECT_EQ(s.forecastList, list);
             SeqOf<int>* forecasts = in.store->forecastTimes();
             EXPECT_EQ(*forecasts, list);
             delete forecasts;
             SeqOf<int> entry;
             ASSERT_TRUE(s.variables.find("temperature", nullptr, &entry));
             EXPECT_EQ(entry[1], -999);
         }},
        {"char inventories", false,
         {{"nInventoryBins = 12", "nInventoryBins = 40"},
          {BIN_DATA, ""},
          {"int inventory(maxStaticIds)", "char inventory(maxStaticIds, nInventoryBins)"},
          {"int globalInventory ;", "char globalInventory(nInventoryBins) ;"},
          {"  globalInventory = 0 ;\n", ""}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture&) {
             EXPECT_TRUE(s.charInventories);
             EXPECT_EQ(s.nInventoryBins, 40);
             EXPECT_EQ(s.binWidth, 90);
         }},
        {"lat/lon ids with a table", false,
         {{"\"stationId\"", "\"latitude,longitude\""}, {"totalIdLen = 8", "totalIdLen = 7"}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture&) {
             EXPECT_TRUE(s.latLonIds);
             EXPECT_EQ(s.maxStaticIds, 4);
             EXPECT_EQ(s.totalIdLen, 7);
         }},
        {"shortest period", false,
         {{":filePeriod = 3600", ":filePeriod = 60"}, {":fileEndOffset = 3599", ":fileEndOffset = 59"}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture&) {
             EXPECT_EQ(s.binWidth, 5);
             EXPECT_EQ(s.startOffset, 0);
         }},
        {"a text of 1000 characters is absent", false,
         {{"\"20070101\"", "\"" + std::string(1000, 'x') + "\""}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture&) {
             EXPECT_EQ(s.cdlDate, "");
             EXPECT_EQ(FakeStoreClock::paused(), 1); // read again after a second
         }},
        {"a text of 999 characters is read", false,
         {{"\"20070101\"", "\"" + std::string(999, 'x') + "\""}},
         [](const PointFileStructure& s, NetcdfPointDataInspector&, LogCapture&) {
             EXPECT_EQ(s.cdlDate.length(), 999);
         }},
    };
    for (const Layout& c : cases) {
        SCOPED_TRACE(c.what);
        FakeStoreClock::paused() = 0;
        LogCapture log;
        NetcdfPointData* st = store(edited(c.latLonBase ? latLonStoreCdl() : idStoreCdl(), c.edits));
        ASSERT_NE(st, nullptr) << log.text();
        NetcdfPointDataInspector in{st};
        c.check(*in.structure(), in, log);
    }
}

TEST_F(TemplateAnalysis, StaticFileIgnoresTimesAndBins)
{
    LogCapture log;
    NetcdfPointData* st = store(idStoreCdl(), "", true);
    ASSERT_NE(st, nullptr) << log.text();
    const PointFileStructure& s = *NetcdfPointDataInspector{st}.structure();
    EXPECT_EQ(s.timeVariables.length(), 0);
    EXPECT_EQ(s.nInventoryBins, 1);
    EXPECT_EQ(s.prevRecord, -999);
    EXPECT_EQ(s.startOffset, -30);
    EXPECT_EQ(s.fileEndOffset, 30);
    EXPECT_EQ(s.binWidth, 60);
    EXPECT_TRUE(log.contains("Static data with time variables not meaningful"));
}

// A data file of the id layout with three records of two stations.
std::string dataFileCdl(const std::string& cdlDate, int nStaticIds, int prevOfLast)
{
    return edited(idStoreCdl(),
                  {{"\"20070101\"", "\"" + cdlDate + "\""},
                   {"  nStaticIds = 0 ;\n", "  nStaticIds = " + std::to_string(nStaticIds) + " ;\n"},
                   {"  globalInventory = 0 ;\n",
                    "  globalInventory = 5 ;\n  stationId = \"72469\", \"72558\", \"72558\" ;\n"
                    "  timeObs = 1.2e9, 1.2e9, 1.2e9 ;\n  prevRecord = -1, -1, " +
                        std::to_string(prevOfLast) + " ;\n"},
                   {"  lastRecord = -1, -1, -1, -1 ;\n",
                    "  staticIds = \"72469\", \"72558\" ;\n  lastRecord = 0, 2, -1, -1 ;\n"}});
}

TEST_F(TemplateAnalysis, DataFilesShareTheLayoutAndGiveTheirCounters)
{
    NetcdfPointData* st = store(idStoreCdl());
    ASSERT_NE(st, nullptr);
    NetcdfPointDataInspector in{st};
    const int openAtStart = NetcdfPointDataInspector::fileOpenCount();
    struct Case {
        std::string cdlDate;
        int nStaticIds;
        bool shared;
        bool good;
    };
    for (const Case& c : {Case{"20070101", 2, true, true}, Case{"20080808", 2, false, true},
                          Case{"20070101", 9, true, false}}) {
        SCOPED_TRACE(c.cdlDate + " " + std::to_string(c.nStaticIds));
        std::string path = tree.path("store1/20070314_1800");
        std::string error;
        ASSERT_TRUE(Cdl::make(dataFileCdl(c.cdlDate, c.nStaticIds, 1), path, &error)) << error;
        PointNetcdfFileInfo* info = in.newFileInfo(AbsTime(1173895200));
        NcFile* file = NetcdfIo::openFile(path.c_str(), false);
        ASSERT_NE(file, nullptr);
        LogCapture log;
        PointFileStructure* s = in.analyze(NetcdfIo::fileId(file), info);
        NetcdfIo::deleteFile(file);
        if (!c.good) {
            EXPECT_EQ(s, nullptr);
            EXPECT_TRUE(log.contains("nStaticIds of 9 is out of range in")) << log.text();
            delete info;
            continue;
        }
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s == in.structure(), c.shared);
        EXPECT_EQ(info->recordCount, 3);
        EXPECT_EQ(info->nStaticIds, 2);
        EXPECT_EQ(info->globalInventory, 5);
        EXPECT_EQ(info->firstOverflow, -1);
        EXPECT_EQ(info->readLevel, 1);
        // The record holds one use of its layout; deleting the last record
        // of a layout other than the template's removes the layout.
        info->structure = s;
        ++s->useCount;
        in.enter(info);
        EXPECT_EQ(in.structureCount(), c.shared ? 1 : 2);
        in.deleteFileInfo(info);
        EXPECT_EQ(in.structureCount(), 1);
        EXPECT_EQ(in.fileInfoCount(), 0);
    }
    EXPECT_EQ(NetcdfPointDataInspector::fileOpenCount(), openAtStart);
}

} // namespace
