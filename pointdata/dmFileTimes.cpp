#include "dmFileTimes.h"

#include "Directory.h"
#include "LogStream.h"
#include "LogText.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>

bool dmFileNameSeconds = false;

TextString dmMakeTimeFileName(const TextString& directory, AbsTime time, const TextString& prefix,
                              const TextString& suffix)
{
    TextString stamp = time.toString(dmFileNameSeconds ? "%Y%m%d_%H%M%S" : "%Y%m%d_%H%M");
    TextString name = directory;
    name += "/";
    name += prefix;
    name += stamp;
    name += suffix;
    return name;
}

bool dmParseTimeStamp(const TextString& text, AbsTime& time)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int n = sscanf(text.c_str(), "%4d%2d%2d_%2d%2d%2d", &year, &month, &day, &hour, &minute,
                   &second);
    if (n < (dmFileNameSeconds ? 6 : 5)) {
        time = AbsTime(0);
        return false;
    }
    if (n == 5)
        second = 0;
    if (year == 1970 && month == 1 && day == 1 && hour == 0 && minute == 0 && second == 1) {
        time = AbsTime(1);
        return true;
    }
    // A stamp names a time from 1971 to the last second a time holds,
    // 2038-01-19 03:14:07.
    if (year < 1971 || year > 2038 ||
        (year == 2038 &&
         AbsTime::calendarSeconds(year, month, day, hour, minute, second) > INT32_MAX)) {
        QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns")
            << "Unreasonable time stamp " << LogText(text) << std::endl;
        time = AbsTime(0);
        return false;
    }
    AbsTime t(year, month, day, hour, minute, second);
    if (t.seconds() == 0) {
        std::ostringstream fields;
        fields << " " << year << " " << month << " " << day << " " << hour << " " << minute;
        if (n == 6)
            fields << " " << second;
        QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns")
            << "For AbsTime " << LogText(text) << fields.str() << std::endl;
        time = AbsTime(0);
        return false;
    }
    time = t;
    return true;
}

bool dmFileNameTime(const TextString& path, AbsTime& time)
{
    const char* slash = strrchr(path.c_str(), '/');
    const char* base = slash ? slash + 1 : path.c_str();
    const char* underscore = strlen(base) < 9 ? nullptr : strchr(base + 8, '_');
    if (!underscore) {
        QEV_LOG(LogStream::BUG, "dmDataAccessFns") << "Invalid QEV data file time string"
                                                   << std::endl;
        return false;
    }
    bool parsed = dmParseTimeStamp(underscore - 8, time);
    if (!parsed)
        QEV_LOG(LogStream::BUG, "dmDataAccessFns") << "Invalid QEV data file time string"
                                                   << std::endl;
    return parsed;
}

namespace {

// A stamp of a listed name: 13 characters, or 15 or 19 whose characters
// after the 13th are digits or ".".
bool isStampShape(const TextString& stamp)
{
    int n = stamp.length();
    if (n != 13 && n != 15 && n != 19)
        return false;
    for (int i = 13; i < n; ++i) {
        char c = stamp[i];
        if (!isdigit(static_cast<unsigned char>(c)) && c != '.')
            return false;
    }
    return true;
}

} // namespace

SeqOf<AbsTime>* dmFileTimes(const TextString& directory, const TextString& prefix,
                            const TextString& suffix)
{
    Directory listing;
    listing.directory = directory;
    listing.prefix = prefix;
    listing.suffix = suffix;
    listing.usePattern = false;
    listing.includeDotFiles = true;
    listing.sort = true;
    listing.scan();

    SeqOf<AbsTime>* times = new SeqOf<AbsTime>();
    QEV_LOG(LogStream::DEBUG, "dmDataAccessFns") << "directory length = " << listing.count()
                                                 << std::endl;
    for (int i = listing.count() - 1; i >= 0; --i) {
        const TextString& name = listing.fileName(i);
        if (name.length() <= prefix.length())
            continue;
        int n = name.length() - prefix.length() - suffix.length();
        if (n < 0)
            n = name.length() - prefix.length();
        TextString stamp = name.subString(prefix.length(), n);
        if (!isStampShape(stamp))
            continue;
        AbsTime t;
        if (dmParseTimeStamp(stamp, t))
            times->append(t);
    }
    return times;
}
