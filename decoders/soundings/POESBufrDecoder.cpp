// The POES decoder: its values, level count, observation times and level
// order.  Its storing side is in StorePOES_Sounding.cpp.
#include "POESBufrDecoder.h"

#include "AbsTime.h"
#include "BufrValues.h"

#include <algorithm>
#include <numeric>
#include <vector>


namespace {

const int PRESSURE = 7004;    // 0 07 004

} // namespace

BufrFileDecoder::Record POESBufrDecoder::poesRecord()
{
    Record r;
    r.sourceName = "POESBufrDecoder";
    r.ingestPath = "/ispan/bufr/POESSoundings";
    r.badPath = "/ispan/badPOESBufr";
    r.statFailureText = " fstat failure on file ";
    r.rejectionText = " is not a POES BUFR file.";
    r.readingTrace = " POESBufrData.......";
    r.storedText = "Writing record to netcdf file: ";
    r.failedWriteReason = "Unable to write netcdf data.";
    r.pauseMicroseconds = 300000;
    return r;
}

const SatelliteSoundingDecoder::Settings& POESBufrDecoder::poesSettings()
{
    // A POES sounding's humidity is its mixing ratio, its temperatures the
    // profile table's elements, its pressures 0 07 004 or, where its levels
    // give none, the other pressure element in Pa; its elevation is the
    // height of the land surface, taken from any other form of a station's
    // elevation it gives once; its cloud cover is a percentage.
    static const Holds holds[] = {{ElementForms::HUMIDITY, "MIXINGRATIO", 0, false},
                                  {ElementForms::PRESSURE, "PRESSURE", 7004, true},
                                  {ElementForms::ELEVATION, nullptr, 10001, true},
                                  {ElementForms::CLOUD_AMOUNT, nullptr, 20010, true},
                                  {ElementForms::TEMPERATURE, "TEMPERATURE", 0, false},
                                  {ElementForms::NO_QUANTITY, nullptr, 0, false}};
    static const Settings s = {
        "POESBufrDecoder",
        "StorePOES_Sounding",
        "POES",
        "POES Soundings",
        "POESBufrPattern.txt",
        "poesBufr.spi",
        "poesBufrInfo.txt",
        "POESProfDescTable.txt",
        "/point/POES/netcdf",
        72000,
        10006,
        5002,
        6002,
        5001,
        6001,
        "Missing lat/lon coordinates for this ob.  Skipping to next observation.",
        "Lat/lon location [ ",
        " ] is not in this localization.  Not stored.",
        " ]: ",
        "Unable to determine the number of data levels for lat/long location [",
        "] not stored, skipping to next ob.",
        "Storing data for site location ",
        ".  Skipping to next Station.",
        holds,
    };
    return s;
}

POESBufrDecoder::POESBufrDecoder() : SatelliteSoundingDecoder(poesRecord(), poesSettings())
{
    if (init())
        processBufrDirectory();
}

POESBufrDecoder::POESBufrDecoder(const TextString& directory, const TextString& fileName)
    : SatelliteSoundingDecoder(poesRecord(), poesSettings())
{
    if (init())
        processOneFile(directory, fileName);
}

POESBufrDecoder::~POESBufrDecoder() {}

int POESBufrDecoder::getProfileCount(const int& start, const int& subset)
{
    return countLevels(start, subset, PRESSURE, "PBD::", true, -1);
}

bool POESBufrDecoder::observationTime(int valueIndex, AbsTime& time)
{
    // Year to minute ten to six values before the latitude, then the second
    // where it stands (0 04 006, or 0 04 007 to the microsecond; else 0 s),
    // all in the sounding's subset.
    const int first = valueIndex - 10;
    const int subset = _decodedValues[valueIndex].getSubset();
    for (int k = 0; k < 5; ++k) {
        if (!elementAt(first + k, subset, YEAR_DESCRIPTOR + k))
            return noTime(valueIndex, "its year, month, day, hour and minute (0 04 001 to "
                                      "0 04 005) do not stand ten values before its latitude");
    }
    double fields[6];
    for (int i = 0; i < 5; ++i)
        fields[i] = _decodedValues[first + i].getValue();
    fields[5] = secondAt(first + 5, subset);
    if (!roundedTime(fields, valueIndex, time))
        return false;
    _decodedValues[first].setCharValue("DTG");
    return true;
}

void POESBufrDecoder::sortLevels()
{
    const int n = std::min(_numLevels, _press.length());
    if (n < 2)
        return;
    // One stable sort of the level order, then each profile in that order:
    // a sounding may hold as many levels as its bulletin has values.
    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    const float* press = _press.elements();
    std::stable_sort(order.begin(), order.end(),
                     [press](int a, int b) { return press[a] > press[b]; });
    std::vector<float> sorted(static_cast<size_t>(n));
    for (SeqOf<float>* levels : {&_press, &_temp, &_w}) {
        if (levels->length() < n)
            continue;
        float* slots = levels->elements();
        for (int k = 0; k < n; ++k)
            sorted[static_cast<size_t>(k)] = slots[order[static_cast<size_t>(k)]];
        std::copy(sorted.begin(), sorted.end(), slots);
    }
}
