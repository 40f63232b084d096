#include "dmRedbookKeys.h"

#include "DM_DataAccessInfo.h"
#include "Dict.h"
#include "Directory.h"
#include "LogStream.h"
#include "LogText.h"
#include "dmDataPaths.h"
#include "dmFileTimes.h"
#include "renameNoReplace.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace {

const char* const MASTER_KEY_NAME = "Redbook graphic master key";
// The entry of a table in which no product was found.
const char* const NO_PRODUCTS = "~~~~~~";
const int NAME_LENGTH = 6;
const int DEFAULT_INTERVAL = 43200;
const int MAX_WINDOW = 1800;

Dict<TextString, unsigned long>& productKeys()
{
    static Dict<TextString, unsigned long> table;
    return table;
}

TextString productName(const TextString& text)
{
    return text.length() > NAME_LENGTH ? TextString(text.c_str(), NAME_LENGTH) : text;
}

// The master key of the dictionary, 0 when no key carries its name.
DataAccessKey findMasterKey()
{
    int n = DM_DataAccessInfo::keyCount();
    for (int i = 0; i < n; ++i) {
        DataAccessKey key = DM_DataAccessInfo::keyAt(i);
        if (key != 0 && DM_DataAccessInfo(key).keyName() == MASTER_KEY_NAME)
            return key;
    }
    return 0;
}

// Fills the table with the products of the master key's group, wherever
// they stand in the file; marks it with NO_PRODUCTS when there are none.
void buildProductTable()
{
    Dict<TextString, unsigned long>& table = productKeys();
    DataAccessKey master = findMasterKey();
    if (master != 0) {
        int n = DM_DataAccessInfo::keyCount();
        for (int i = 0; i < n; ++i) {
            DataAccessKey key = DM_DataAccessInfo::keyAt(i);
            if (key == 0 || key == master || key / 1000 != master / 1000)
                continue;
            DM_DataAccessInfo info(key);
            TextString name = productName(info.keyName());
            if (info.key() != 0 && name.length() > 0)
                table.insert(name, key);
        }
    }
    if (table.count() == 0) {
        table.insert(NO_PRODUCTS, 0);
        QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns") << "No keys in the redbook reverse lookup"
                                                       << std::endl;
    }
}

// The start of the bin of t: a positive interval bins and then adds the
// offset; a negative one adds the offset before binning by its size.  In 64
// bits: near the last second a time holds the bin may begin past it.
int64_t binStart(int32_t t, int interval, int offset)
{
    int64_t i = interval;
    if (i > 0)
        return (t / i) * i + offset;
    int64_t j = -i;
    return ((static_cast<int64_t>(t) + offset) / j) * j;
}

bool nameTaken(const TextString& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Moves the files stored within the window before the bin start b one
// minute earlier, oldest first and newPath last, so that newPath comes
// free.  A move onto a taken name is not made; false when newPath is still
// taken afterwards.
bool makeRoom(const DM_DataAccessInfo& info, const TextString& directory, int32_t b,
              int interval, const TextString& newPath)
{
    int window = (interval < 0 ? -(interval / 2) : interval / 2);
    if (window > MAX_WINDOW)
        window = MAX_WINDOW;
    TextString hour = (AbsTime(b) - 3600).toString("%Y%m%d_%H%M");
    Directory listing;
    listing.directory = directory;
    listing.prefix = info.filePrefix() + TextString(hour.c_str(), 11);
    listing.suffix = info.fileSuffix();
    listing.usePattern = false;
    listing.includeDotFiles = true;
    listing.sort = true;
    listing.scan();

    SeqOf<TextString> candidates;
    for (int i = 0; i < listing.count(); ++i)
        candidates.append(directory + "/" + listing.fileName(i));
    candidates.append(newPath);
    for (int i = 0; i < candidates.length(); ++i) {
        const TextString& from = candidates[i];
        AbsTime tj;
        if (!dmFileNameTime(from, tj) || static_cast<int64_t>(b) - tj.seconds() > window)
            continue;
        TextString to =
            dmMakeTimeFileName(directory, tj - 60, info.filePrefix(), info.fileSuffix());
        int error = renameNoReplace(from.c_str(), to.c_str());
        if (error == EEXIST)
            QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns")
                << "Not moving " << LogText(from) << ": " << LogText(to) << " is taken"
                << std::endl;
        else if (error != 0)
            QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns")
                << "Unable to move " << LogText(from) << " to " << LogText(to)
                << ", error = " << strerror(error) << std::endl;
    }
    if (!nameTaken(newPath))
        return true;
    QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns")
        << "Redbook file name " << LogText(newPath) << " is still taken" << std::endl;
    return false;
}

} // namespace

bool dmRedbookKeys(const TextString& path, DataAccessKey& key, DataTime& time,
                   TextString& newPath)
{
    if (productKeys().count() == 0)
        buildProductTable();

    AbsTime t;
    if (!dmFileNameTime(path, t))
        return false;
    const char* slash = strrchr(path.c_str(), '/');
    TextString product = productName(slash ? TextString(slash + 1) : path);
    DataAccessKey found = 0;
    if (!productKeys().find(product, nullptr, &found) || found == 0)
        return false;
    key = found;

    DM_DataAccessInfo info(key);
    if (info.key() == 0)
        return false;
    int interval = info.interval() == 0 ? DEFAULT_INTERVAL : info.interval();
    int period = info.filePeriodSeconds();
    const int64_t start = binStart(t.seconds(), interval, info.offset());
    // Filed by a time a time holds, never a wrapped one.
    if (start < 0 || start > INT32_MAX || start + period < 0 || start + period > INT32_MAX) {
        QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns")
            << "Redbook file " << LogText(path) << " would be filed at " << start
            << " s with its valid time " << period
            << " s later, outside the times from 1970 to 2038-01-19 03:14:07" << std::endl;
        return false;
    }
    AbsTime b(static_cast<int32_t>(start));
    AbsTime valid = b + period;
    time = DataTime(b, period, TimeRange(valid, valid), b, 0, 0x700);

    dmFileNameSeconds = false;
    TextString directory;
    if (!dmDataDirectoryOf(info, directory))
        return false;
    newPath = dmMakeTimeFileName(directory, b, info.filePrefix(), info.fileSuffix());
    if (!nameTaken(newPath))
        return true;
    return makeRoom(info, directory, b.seconds(), interval, newPath);
}
