// The station-table reader (plot-info files, readStaticPlotInfoPV) and the
// nearest-station search over what it read: the input is a station file in
// $QEV_HOME/data.  Looked for at its own position, within 1 km, each of the
// first stations with a finite position must find a station at that
// latitude.
//
// The reader keeps every table for the life of the process, by file name
// (a process reads a few).  Each input is written under a new name so that
// each one is read from its file; the process's memory grows with the
// inputs, so runs of this harness are bounded in inputs.
#include <cmath>
#include <limits>
#include <string>

#include "FuzzEnvironment.h"
#include "StationPlotInfo.h"

namespace {

const int searchedStations = 64;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string name = FuzzEnvironment::writeFreshDataFile("stations", data, size);
    const PlotInfoTable* table = readStaticPlotInfoPV(TextString(name.c_str()));
    FuzzEnvironment::removeDataFile(name);
    if (!table || table->count < 0)
        FuzzEnvironment::fail("fuzz_station_table", "no table, or a negative count");

    for (int i = 0; i < table->count && i < searchedStations; ++i) {
        const PlotInfoStation& s = table->stations[i];
        if (!std::isfinite(s.latitude) || !std::isfinite(s.longitude))
            continue;
        const float position[2] = {s.latitude, s.longitude};
        // Every field6 passes, -inf included.
        const PlotInfoStation* found = findStationInRadius(
            *table, position, 1.0f, -std::numeric_limits<float>::infinity());
        if (!found || found->latitude != s.latitude)
            FuzzEnvironment::fail("fuzz_station_table",
                                  "a station is not found at its own position");
    }
    // The long names, as the decoders look stations up by them.
    for (int i = 0; i < table->names.count(); ++i) {
        const PlotInfoStation* s = static_cast<const PlotInfoStation*>(table->names.value(i));
        if (!(table->names.key(i) == TextString(s->longName)))
            FuzzEnvironment::fail("fuzz_station_table", "a long name leads to another station");
    }
    return 0;
}
