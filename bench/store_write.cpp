// Writing speed of the point-data store: N stations x M times through
// getFileHandleAndRecord (the record's data variables written through the
// handle, the handle given back), against the same variables written at the
// same records with plain netCDF calls and no bookkeeping (the floor).
//
//   id_store/N/M       an id store (a static table of N stations, 12 bins)
//   id_floor/N/M       the floor of the same writes: one open file, no sync
//   id_floor_synced    the floor with a sync after each record, as a store
//                      makes sure of each record before the next
//   latlon_store/N     N records at N distinct positions into one file of
//                      a location store (no static table): the search for
//                      a position's newest record over all records of the
//                      file shows in the cost per record as N grows
// Counters: records per second (items_per_second) and, for the stores,
// per_record (the time of one record).  The templates are made with the netCDF C library in a
// scratch folder; the log is cut down to PROBLEM lines.
#include "NetcdfIo.h"
#include "NetcdfPointData.h"
#include "StoreClock.h"

#include "LogStream.h"

#include <benchmark/benchmark.h>
#include <netcdf.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const int T0 = 1173895200; // 2007-03-14 18:00:00 UTC

std::string scratchRoot()
{
    static std::string root = [] {
        char tmpl[] = "/tmp/qevbench.XXXXXX";
        const char* made = mkdtemp(tmpl);
        return std::string(made ? made : "/tmp");
    }();
    return root;
}

std::string freshDirectory()
{
    static int n = 0;
    std::string dir = scratchRoot() + "/store" + std::to_string(++n);
    fs::create_directories(dir);
    return dir;
}

void check(int status)
{
    if (status != NC_NOERR) {
        fprintf(stderr, "netCDF: %s\n", nc_strerror(status));
        std::exit(1);
    }
}

// A template of the store layout: with stations > 0 a static table of that
// many 8-character ids and 12 bins; with 0 a location store with 13-character
// position keys.
void makeTemplate(const std::string& path, int stations)
{
    int ncid, rec, table = -1, idLen, nameLen, bins = -1, var;
    check(nc_create(path.c_str(), NC_CLOBBER, &ncid));
    check(nc_def_dim(ncid, "recNum", NC_UNLIMITED, &rec));
    check(nc_def_dim(ncid, "totalIdLen", stations > 0 ? 8 : 13, &idLen));
    check(nc_def_dim(ncid, "staNameLen", 6, &nameLen));
    if (stations > 0) {
        check(nc_def_dim(ncid, "maxStaticIds", stations, &table));
        check(nc_def_dim(ncid, "nInventoryBins", 12, &bins));
    }
    int dims2[2] = {rec, nameLen};
    if (stations > 0)
        check(nc_def_var(ncid, "stationId", NC_CHAR, 2, dims2, &var));
    for (const char* name : {"latitude", "longitude", "temperature", "dewpoint", "pressure"})
        check(nc_def_var(ncid, name, NC_FLOAT, 1, &rec, &var));
    check(nc_def_var(ncid, "timeObs", NC_DOUBLE, 1, &rec, &var));
    check(nc_def_var(ncid, "prevRecord", NC_INT, 1, &rec, &var));
    if (stations > 0) {
        int tableDims[2] = {table, idLen};
        check(nc_def_var(ncid, "nStaticIds", NC_INT, 0, nullptr, &var));
        check(nc_def_var(ncid, "staticIds", NC_CHAR, 2, tableDims, &var));
        check(nc_def_var(ncid, "lastRecord", NC_INT, 1, &table, &var));
        check(nc_def_var(ncid, "inventory", NC_INT, 1, &table, &var));
        check(nc_def_var(ncid, "globalInventory", NC_INT, 0, nullptr, &var));
        check(nc_def_var(ncid, "firstOverflow", NC_INT, 0, nullptr, &var));
        check(nc_def_var(ncid, "isOverflow", NC_INT, 1, &rec, &var));
        check(nc_def_var(ncid, "firstInBin", NC_INT, 1, &bins, &var));
        check(nc_def_var(ncid, "lastInBin", NC_INT, 1, &bins, &var));
        check(nc_put_att_text(ncid, NC_GLOBAL, "idVariables", 9, "stationId"));
    }
    check(nc_put_att_text(ncid, NC_GLOBAL, "cdlDate", 8, "20070101"));
    check(nc_put_att_text(ncid, NC_GLOBAL, "timeVariables", 7, "timeObs"));
    int period = 3600, endOffset = 3599;
    check(nc_put_att_int(ncid, NC_GLOBAL, "filePeriod", NC_INT, 1, &period));
    check(nc_put_att_int(ncid, NC_GLOBAL, "fileEndOffset", NC_INT, 1, &endOffset));
    check(nc_enddef(ncid));
    if (stations > 0) {
        int zero = 0, none = -1;
        std::vector<int> minusOnes(static_cast<size_t>(stations), -1);
        check(nc_put_var_int(ncid, ncvarid(ncid, "nStaticIds"), &zero));
        check(nc_put_var_int(ncid, ncvarid(ncid, "globalInventory"), &zero));
        check(nc_put_var_int(ncid, ncvarid(ncid, "firstOverflow"), &none));
        check(nc_put_var_int(ncid, ncvarid(ncid, "lastRecord"), minusOnes.data()));
        check(nc_put_var_int(ncid, ncvarid(ncid, "firstInBin"), minusOnes.data()));
        check(nc_put_var_int(ncid, ncvarid(ncid, "lastInBin"), minusOnes.data()));
    }
    check(nc_close(ncid));
}

std::string stationId(int n)
{
    char id[16];
    snprintf(id, sizeof id, "S%05d", n % 100000);
    return id;
}

// The data variables a decoder would write at a record.
void writeData(const NetcdfIo& io, const int* vars, int record)
{
    for (int k = 0; k < 3; ++k)
        io.put1(vars[k], NcPos{record}, static_cast<float>(record + k));
}

int32_t fixedNow() { return 1200000000; }
void noPause(int) {}

void idStore(benchmark::State& state)
{
    const int stations = static_cast<int>(state.range(0));
    const int times = static_cast<int>(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        std::string dir = freshDirectory();
        makeTemplate(dir + "/template", stations);
        NetcdfPointData* store = new NetcdfPointData(dir.c_str(), true, false);
        state.ResumeTiming();
        int vars[3] = {-1, -1, -1};
        for (int m = 0; m < times; ++m) {
            for (int n = 0; n < stations; ++n) {
                SeqOf<TextString> ids(stationId(n).c_str());
                SeqOf<double> t(double(T0 + m * (3000 / times)));
                int record = -1;
                bool isNew = false;
                int* handle = store->getFileHandleAndRecord(ids, t, record, isNew);
                if (!handle) {
                    state.SkipWithError("no handle");
                    return;
                }
                NetcdfIo io(*handle);
                if (vars[0] < 0) {
                    vars[0] = io.varId("temperature");
                    vars[1] = io.varId("dewpoint");
                    vars[2] = io.varId("pressure");
                }
                writeData(io, vars, record);
                store->releaseHandle(handle);
            }
        }
        state.PauseTiming();
        delete store;
        fs::remove_all(dir);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * stations * times);
    state.counters["per_record"] = benchmark::Counter(
        double(stations) * times,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void idFloor(benchmark::State& state, bool syncEach)
{
    const int stations = static_cast<int>(state.range(0));
    const int times = static_cast<int>(state.range(1));
    for (auto _ : state) {
        state.PauseTiming();
        std::string dir = freshDirectory();
        makeTemplate(dir + "/20070314_1800", stations);
        int ncid;
        check(nc_open((dir + "/20070314_1800").c_str(), NC_WRITE, &ncid));
        NetcdfIo io(ncid);
        const int idVar = io.varId("stationId"), timeVar = io.varId("timeObs");
        const int vars[3] = {io.varId("temperature"), io.varId("dewpoint"), io.varId("pressure")};
        state.ResumeTiming();
        int record = 0;
        for (int m = 0; m < times; ++m) {
            for (int n = 0; n < stations; ++n, ++record) {
                std::string id = stationId(n);
                io.put(idVar, NcPos{record, 0}, NcPos{1, static_cast<long>(id.size()) + 1},
                       id.c_str());
                io.put1(timeVar, NcPos{record}, double(T0 + m * (3000 / times)));
                writeData(io, vars, record);
                if (syncEach)
                    io.sync();
            }
        }
        io.sync();
        state.PauseTiming();
        nc_close(ncid);
        fs::remove_all(dir);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * stations * times);
}

void latLonStore(benchmark::State& state)
{
    const int records = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        std::string dir = freshDirectory();
        makeTemplate(dir + "/template", 0);
        NetcdfPointData* store = new NetcdfPointData(dir.c_str(), true, false);
        state.ResumeTiming();
        for (int r = 0; r < records; ++r) {
            SeqOf<double> t(double(T0 + r % 3000));
            int record = -1;
            bool isNew = false;
            LatLonCoord at(-60.0f + float(r % 1000) * 0.1f, -170.0f + float(r / 1000) * 0.1f);
            int* handle = store->getFileHandleAndRecord(at, t, record, isNew);
            if (!handle) {
                state.SkipWithError("no handle");
                return;
            }
            store->releaseHandle(handle);
        }
        state.PauseTiming();
        delete store;
        fs::remove_all(dir);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * records);
    state.counters["per_record"] = benchmark::Counter(
        double(records), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK(idStore)->Args({1000, 10})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(idFloor, plain, false)->Args({1000, 10})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(idFloor, synced, true)->Args({1000, 10})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(latLonStore)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    if (!std::getenv("LOG_DIR")) {
        std::string logs = scratchRoot() + "/log";
        fs::create_directories(logs);
        setenv("LOG_DIR", logs.c_str(), 1);
    }
    StoreClock::set(&fixedNow, &noPause);
    LogStream::setFilter("all", LogStream::TTY, 0xFFFFFFFFu, false);
    LogStream::setFilter("all", LogStream::TTY, LogStream::PROBLEM, true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(scratchRoot());
    return 0;
}
