// The GOES decoder: its values, level count and observation times.  Its
// storing side is in StoreGOES_Sounding.cpp.
#include "GOESBufrDecoder.h"

#include "AbsTime.h"
#include "BufrValues.h"
#include "LogStream.h"

#include <algorithm>

#define GOES_LOG(category) QEV_LOG(LogStream::category, "GOESBufrDecoder")

namespace {

const int PRESSURE = 10004;    // 0 10 004
const int DAY_OF_YEAR = 4043;
const int HOUR = 4004;
const int MINUTE = 4005;

} // namespace

BufrFileDecoder::Record GOESBufrDecoder::goesRecord()
{
    Record r;
    r.sourceName = "GOESBufrDecoder";
    r.ingestPath = "/ispan/bufr/GOESSoundings";
    r.badPath = "/ispan/badGOESBufr";
    r.statFailureText = " fstat failure on file ";
    r.rejectionText = " is not a GOES BUFR file.";
    r.readingTrace = " GOESBufrData.......";
    r.storedText = "MXR_STOREd to netcdf file: ";
    r.failedWriteReason = "Unable to MXR_STORE netcdf data.";
    r.pauseMicroseconds = 300000;
    return r;
}

const SatelliteSoundingDecoder::Settings& GOESBufrDecoder::goesSettings()
{
    // A GOES sounding's humidity is its dewpoint, its temperatures the
    // profile table's elements, its pressures 0 10 004 or, where its levels
    // give none, the other pressure element in Pa; its heights geopotential
    // heights: the heights that convert are converted into them; its cloud
    // cover is a percentage.
    static const Holds holds[] = {{ElementForms::HUMIDITY, "DEWPOINT", 0, false},
                                  {ElementForms::PRESSURE, "PRESSURE", 10004, true},
                                  {ElementForms::HEIGHT, "HEIGHT", 10009, true},
                                  {ElementForms::CLOUD_AMOUNT, nullptr, 20010, true},
                                  {ElementForms::TEMPERATURE, "TEMPERATURE", 0, false},
                                  {ElementForms::NO_QUANTITY, nullptr, 0, false}};
    static const Settings s = {
        "GOESBufrDecoder",
        "StoreGOES_Sounding",
        "GOES",
        "GOES Soundings",
        "GOESBufrPattern.txt",
        "goesBufr.spi",
        "goesBufrInfo.txt",
        "GOESProfDescTable.txt",
        "/point/GOES/netcdf",
        36000,
        10005,
        5001,
        6001,
        5002,
        6002,
        "No lat/lon coords for this ob; skipping.",
        "Lat/lon [ ",
        " ] not in this localization; not stored.",
        " ]: ",
        "Unknown number of data levels for lat/lon [",
        "]; skipping.",
        "MXR_STORE site ",
        "; skipping.",
        holds,
    };
    return s;
}

GOESBufrDecoder::GOESBufrDecoder() : SatelliteSoundingDecoder(goesRecord(), goesSettings())
{
    if (init())
        processBufrDirectory();
}

GOESBufrDecoder::GOESBufrDecoder(const TextString& directory, const TextString& fileName)
    : SatelliteSoundingDecoder(goesRecord(), goesSettings())
{
    if (init())
        processOneFile(directory, fileName);
}

GOESBufrDecoder::~GOESBufrDecoder() {}

int GOESBufrDecoder::getProfileCount(const int& start, const int& subset)
{
    return countLevels(start, subset, PRESSURE, "GBD::", false, 0);
}

bool GOESBufrDecoder::observationTime(int valueIndex, AbsTime& time)
{
    // The year and the day of the year right before the position, the hour,
    // minute and second right after it (no second element: 0 s), all in the
    // sounding's subset.
    const int subset = _decodedValues[valueIndex].getSubset();
    if (!elementAt(valueIndex - 2, subset, YEAR_DESCRIPTOR) ||
        !elementAt(valueIndex - 1, subset, DAY_OF_YEAR))
        return noTime(valueIndex, "its year and day of the year (0 04 001, 0 04 043) do not "
                                  "stand right before its latitude");
    if (!elementAt(valueIndex + 2, subset, HOUR) || !elementAt(valueIndex + 3, subset, MINUTE))
        return noTime(valueIndex, "its hour and minute (0 04 004, 0 04 005) do not stand "
                                  "right after its position");
    const double y = _decodedValues[valueIndex - 2].getValue();
    const double d = _decodedValues[valueIndex - 1].getValue();
    // The day of the year makes the date: 1 to the days of that year.
    const bool inRange = y >= 1970 && y <= 2038 && d >= 1 && d < 367;
    const int days = inRange ? 365 + AbsTime::isLeapYear(static_cast<int>(y)) : 0;
    if (!inRange || static_cast<int>(d) > days) {
        if (_bulletinLog.admit("GOESBufrDecoder", "The day of the year"))
            GOES_LOG(PROBLEM) << "The day of the year " << d << " of " << y
                              << " of the sounding at value " << valueIndex << " is not a date"
                              << std::endl;
        return false;
    }
    // The month and day of the day of the year, from the calendar alone: a
    // day past the last one a time holds is told by the time check.
    int month = 1, day = static_cast<int>(d);
    while (day > AbsTime::daysInMonth(month, static_cast<int>(y)))
        day -= AbsTime::daysInMonth(month++, static_cast<int>(y));
    const double fields[6] = {y,
                              static_cast<double>(month),
                              static_cast<double>(day),
                              _decodedValues[valueIndex + 2].getValue(),
                              _decodedValues[valueIndex + 3].getValue(),
                              secondAt(valueIndex + 4, subset)};
    if (!roundedTime(fields, valueIndex, time))
        return false;
    // Soundings arrive after their time: one ahead of the clock is of the
    // day before.
    if (time.seconds() > now())
        time -= 86400;
    _decodedValues[valueIndex - 2].setCharValue("DTG");
    return true;
}
