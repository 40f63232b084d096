#include "Directory.h"

#include "LogStream.h"
#include "LogText.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const char* const timeFormat = "%h %d %y %T GMT";

bool endsWith(const char* name, const TextString& suffix)
{
    size_t n = strlen(name);
    size_t k = static_cast<size_t>(suffix.length());
    return n >= k && strcmp(name + n - k, suffix.c_str()) == 0;
}

// Quicksort by strcmp: the pivot is the first name of the range.  The
// smaller part is sorted by recursion and the larger one in the loop, so the
// depth stays logarithmic whatever the order of the names.
void quickSort(std::vector<TextString>& v, int from, int to)
{
    while (from < to) {
        TextString pivot = v[from];
        int i = from;
        int j = to;
        while (i <= j) {
            while (strcmp(v[i].c_str(), pivot.c_str()) < 0)
                ++i;
            while (strcmp(v[j].c_str(), pivot.c_str()) > 0)
                --j;
            if (i <= j) {
                std::swap(v[i], v[j]);
                ++i;
                --j;
            }
        }
        if (j - from < to - i) {
            quickSort(v, from, j);
            from = i;
        } else {
            quickSort(v, i, to);
            to = j;
        }
    }
}

// The compiled expression of a scan, freed when the scan ends; never copied.
class CompiledPattern {
public:
    CompiledPattern() : _compiled(false) {}
    ~CompiledPattern()
    {
        if (_compiled)
            regfree(&_regex);
    }
    CompiledPattern(const CompiledPattern&) = delete;
    CompiledPattern& operator=(const CompiledPattern&) = delete;

    // False (logged) when the flags are unknown or the pattern does not
    // compile.
    bool compile(const TextString& pattern, int patternFlags)
    {
        static const int flagsByKind[] = {0, REG_ICASE, REG_EXTENDED, REG_EXTENDED | REG_ICASE};
        if (patternFlags < 0 || patternFlags > 3) {
            QEV_LOG(LogStream::BUG, "Directory") << "Unknown flag in regexpMatch." << std::endl;
            return false;
        }
        int status = regcomp(&_regex, pattern.c_str(), flagsByKind[patternFlags] | REG_NOSUB);
        if (status != 0) {
            char message[256];
            regerror(status, &_regex, message, sizeof message);
            QEV_LOG(LogStream::BUG, "Directory") << message << std::endl;
            return false;
        }
        _compiled = true;
        return true;
    }

    bool matches(const char* name) const { return regexec(&_regex, name, 0, nullptr, 0) == 0; }

private:
    regex_t _regex;
    bool _compiled;
};

}  // namespace

Directory::Directory()
    : sort(false), includeDotFiles(false), usePattern(false), patternFlags(0), descriptor(-1)
{
}

int Directory::scan()
{
    CompiledPattern regex;
    if (usePattern && !regex.compile(pattern, patternFlags))
        return EINVAL;

    DIR* dir = nullptr;
    if (descriptor < 0) {
        dir = opendir(directory.c_str());
    } else {
        // A copy of the descriptor, which the listing closes; it shares the
        // reading position, so the listing starts from the beginning.
        const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
        dir = copy >= 0 ? fdopendir(copy) : nullptr;
        if (dir) {
            rewinddir(dir);
        } else if (copy >= 0) {
            const int error = errno;
            close(copy);
            errno = error;
        }
    }
    if (!dir) {
        int error = errno;
        QEV_LOG(LogStream::PROBLEM, "Directory")
            << "error from opendir() for dir name: " << LogText(directory) << " - "
            << strerror(error)
            << std::endl;
        return error;
    }
    names = SeqOf<TextString>();
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (!includeDotFiles && name[0] == '.')
            continue;
        if (usePattern && !regex.matches(name))
            continue;
        if (prefix.length() > 0 && strncmp(name, prefix.c_str(), prefix.length()) != 0)
            continue;
        if (suffix.length() > 0 && !endsWith(name, suffix))
            continue;
        names.append(TextString(name));
    }
    closedir(dir);
    if (sort)
        sortNames(0, names.length() - 1);
    return 0;
}

const TextString& Directory::fileName(int i) const
{
    if (i < 0 || i >= names.length())
        return TextString::emptyString();
    const SeqOf<TextString>& listing = names;
    return listing[i];
}

void Directory::sortNames(int from, int to)
{
    if (from < 0 || to >= names.length() || from >= to)
        return;
    const SeqOf<TextString>& listing = names;
    std::vector<TextString> v(listing.elements(), listing.elements() + listing.length());
    quickSort(v, from, to);
    names = SeqOf<TextString>(v.data(), static_cast<int>(v.size()));
}

TextString Directory::pathOf(const TextString& name) const
{
    const TextString& dir = directory;
    if (dir.length() > 0 && dir[dir.length() - 1] != '/')
        return dir + "/" + name;
    return dir + name;
}

bool Directory::purge(int days)
{
    QEV_LOG(LogStream::DEBUG, "Directory") << "purge(int): " << days << " days" << std::endl;
    long long seconds = std::max(-1LL * INT32_MAX, std::min(1LL * INT32_MAX, days * 86400LL));
    return purgeBefore(AbsTime::now() - static_cast<int32_t>(seconds));
}

bool Directory::purgeBefore(const AbsTime& time)
{
    QEV_LOG(LogStream::EVENT, "Directory") << "Valid time = " << time.toString(timeFormat)
                                           << std::endl;
    // The directory must be one the process could enter, as the files are
    // addressed through it.
    struct stat dirInfo;
    int error = 0;
    if (stat(directory.c_str(), &dirInfo) != 0)
        error = errno;
    else if (!S_ISDIR(dirInfo.st_mode))
        error = ENOTDIR;
    else if (access(directory.c_str(), X_OK) != 0)
        error = errno;
    if (error != 0) {
        QEV_LOG(LogStream::PROBLEM, "Directory")
            << "Error in chdir to " << LogText(directory) << ": " << strerror(error) << std::endl;
        return false;
    }

    bool ok = true;
    for (int i = names.length() - 1; i >= 0; --i) {
        const TextString name = static_cast<const SeqOf<TextString>&>(names)[i];
        TextString path = pathOf(name);
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            int error = errno;
            QEV_LOG(LogStream::PROBLEM, "Directory")
                << "stat error on file " << LogText(name) << ": " << strerror(error) << std::endl;
            return false;
        }
        AbsTime modified = AbsTime::fromTimeT(info.st_mtime);
        if (modified >= time)
            continue;
        if (unlink(path.c_str()) != 0) {
            int error = errno;
            QEV_LOG(LogStream::PROBLEM, "Directory")
                << "unlink " << LogText(name) << " error: " << strerror(error) << std::endl;
            ok = false;
            continue;
        }
        QEV_LOG(LogStream::EVENT, "Directory") << "Removing " << LogText(name) << std::endl;
        QEV_LOG(LogStream::DEBUG, "Directory") << "Time: " << modified.toString(timeFormat)
                                               << std::endl;
        names.remove(i, i);
    }
    return ok;
}
