// The log stream's sinks: log file names, their directories, opening and
// breaking the files, and the prefix written in front of each message.
#include "LogStream.h"

#include "LogStreamState.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

const char* const defaultLogTemplate = "%L/%D/%N%P%H%T";
const char* const defaultCollectiveTemplate = "%L/%D/%N";

std::string utcText(time_t seconds, const char* format)
{
    struct tm t;
    gmtime_r(&seconds, &t);
    char buf[64];
    size_t n = strftime(buf, sizeof buf, format, &t);
    return std::string(buf, n);
}

// asctime of the current UTC time (it ends in a newline).
std::string utcAsctime()
{
    time_t now = time(nullptr);
    struct tm t;
    gmtime_r(&now, &t);
    char buf[64];
    if (!asctime_r(&t, buf))
        return "\n";
    return buf;
}

std::string hostName()
{
    struct utsname u;
    if (uname(&u) != 0)
        return std::string();
    return u.nodename;
}

// The path of one log file from its template.  %P and %T give nothing in
// the collective file's name, so processes of one name share it for a day.
std::string expandTemplate(const std::string& tmpl, bool collective)
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    const std::string host = hostName();

    std::string path;
    for (std::string::size_type i = 0; i < tmpl.size(); ++i) {
        const char c = tmpl[i];
        if (c != '%' || i + 1 == tmpl.size()) {
            path += c;
            continue;
        }
        const char* env;
        switch (tmpl[++i]) {
        case '%': path += '%'; break;
        case 'D': path += utcText(now.tv_sec, "%Y%m%d"); break;
        case 'H': path += host; break;
        case 'L': path += (env = getenv("LOG_DIR")) ? env : "./"; break;
        case 'N': path += logProcessName(false); break;
        case 'P':
            if (!collective)
                path += std::to_string(getpid());
            break;
        case 'T':
            if (!collective)
                path += utcText(now.tv_sec, "%H%M%S");
            break;
        case 'd': path += (env = getenv("DISPLAY")) ? env : ":0"; break;
        default:
            logWriteAll(STDERR_FILENO, "Ignoring bad %-sequence in the file template\n");
            break;
        }
    }
    return path;
}

// Gives the directory just made its mode.  The directories are open to
// every user, so the name may lead elsewhere by now: the mode goes to what
// the name opens as a directory of this user, never through a link.
bool openDirectoryToAll(const std::string& dir)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    bool done = fstat(fd, &info) == 0;
    if (done && info.st_uid != geteuid()) {
        errno = EPERM;
        done = false;
    }
    done = done && fchmod(fd, 0777) == 0;
    const int error = errno;
    close(fd);
    errno = error;
    return done;
}

// Makes every directory of the path (not its last component).  Another
// process making the same directory at the same moment is no failure.
bool makeDirectories(const std::string& path)
{
    std::string::size_type pos = path.find('/', path.compare(0, 1, "/") == 0 ? 1 : 0);
    for (; pos != std::string::npos; pos = path.find('/', pos + 1)) {
        const std::string dir = path.substr(0, pos);
        if (dir.empty() || dir.back() == '.' || dir.back() == '/')
            continue;
        if (access(dir.c_str(), F_OK) == 0)
            continue;
        if (mkdir(dir.c_str(), 0777) != 0) {
            if (errno == EEXIST)
                continue;
        } else if (openDirectoryToAll(dir)) {
            continue;
        }
        logWriteAll(STDERR_FILENO, "Cannot make or write directory " + dir + ": " +
                                       strerror(errno) + "\n");
        return false;
    }
    return true;
}

// Opens a log file for appending, made when missing.  Other users can write
// the log directory, so what its name leads to is taken only when it is a
// regular file of this process's user with no other name: never through a
// symbolic link, never another user's file, a device, a FIFO or a hard link
// to a file elsewhere.  Its mode is given to what was opened.  -1 after a
// line on standard error.
int openLogFile(const std::string& path)
{
    const int fd = open(path.c_str(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    std::string refused;
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0)
        refused = strerror(errno);
    else if (!S_ISREG(info.st_mode))
        refused = "not a regular file";
    else if (info.st_uid != geteuid())
        refused = "owned by another user";
    else if (info.st_nlink != 1)
        refused = "the file has other names";
    // Mode 0666 whatever the file-creation mask, without changing the mask
    // (other threads may be making files).
    else if (fchmod(fd, 0666) != 0)
        refused = strerror(errno);
    if (refused.empty())
        return fd;
    if (fd >= 0)
        close(fd);
    logWriteAll(STDERR_FILENO, "Cannot open log file: " + path + ": " + refused + ".\n");
    return -1;
}

std::string openFilesText(bool collective)
{
    const char* env = getenv(collective ? "COLLECTIVE_FILE" : "LOG_FILE");
    const std::string path =
        expandTemplate(env ? env : (collective ? defaultCollectiveTemplate : defaultLogTemplate),
                       collective);
    return makeDirectories(path) ? path : std::string();
}

} // namespace

void logFillPrefixSettings(LogPrefixSettings& settings)
{
    settings.flags[0] = settings.flags[1] = settings.flags[2] = 0;
    settings.verbosePrefixMask = 0;
    settings.processName = TextString(logProcessName(false).c_str());
    settings.processId = static_cast<int>(getpid());
}

std::string logPrefixText(const LogPrefixSettings& settings, int category, int sink,
                          long seconds, long microseconds, const char* sourceFile, int line,
                          bool noPrefix)
{
    if (category == LogStream::LOG_STATUS)
        return "LOG-STATUS: ";
    const bool withPrefix = !noPrefix ||
                            (settings.verbosePrefixMask & static_cast<unsigned>(category)) != 0 ||
                            sink == LogStream::COLLECTIVE;
    if (!withPrefix || sink < 0 || sink > 2)
        return std::string();

    const unsigned flags = settings.flags[sink];
    std::string out;
    char buf[32];
    if (flags & LogPrefixSettings::PROCESSNAME) {
        out += settings.processName.c_str();
        out += ' ';
    }
    if (flags & LogPrefixSettings::PROCESSID)
        out += std::to_string(settings.processId) + ' ';
    if (flags & LogPrefixSettings::UNIXTIME) {
        snprintf(buf, sizeof buf, "%ld.%06ld ", seconds, microseconds);
        out += buf;
    }
    if (flags & LogPrefixSettings::TIMESTAMP) {
        out += utcText(static_cast<time_t>(seconds), "%H:%M:%S.");
        snprintf(buf, sizeof buf, "%03ld ", microseconds / 1000);
        out += buf;
    }
    if (flags & LogPrefixSettings::FILENAME) {
        out += sourceFile ? sourceFile : "";
        out += ' ';
    }
    if (flags & LogPrefixSettings::LINENO)
        out += std::to_string(line) + ' ';
    out += logCategoryText(category);
    out += ": ";
    return out;
}

TextString LogStream::formatPrefix(const LogPrefixSettings& settings, int category, int sink,
                                   long seconds, long microseconds, const TextString& sourceFile,
                                   int line, bool noPrefix)
{
    return TextString(logPrefixText(settings, category, sink, seconds, microseconds,
                                    sourceFile.c_str(), line, noPrefix)
                          .c_str());
}

void LogStream::setPrefixFlag(unsigned flags[3], unsigned bit, int sink, bool on)
{
    if (sink < 0 || sink > 2)
        return;
    if (on) {
        // A line number means nothing without the file name.
        if ((bit & LogPrefixSettings::LINENO) && !(flags[sink] & LogPrefixSettings::FILENAME))
            bit &= ~static_cast<unsigned>(LogPrefixSettings::LINENO);
        flags[sink] |= bit;
        return;
    }
    if (sink == COLLECTIVE &&
        (bit & (LogPrefixSettings::TIMESTAMP | LogPrefixSettings::PROCESSNAME))) {
        logWriteAll(STDERR_FILENO, "LOG-STATUS: Warning: can't turn off timestamp or process"
                                   " name in the collective log.\n");
        return;
    }
    if (bit & LogPrefixSettings::FILENAME)
        bit |= LogPrefixSettings::LINENO;
    flags[sink] &= ~bit;
}

TextString LogStream::openFiles(bool collective)
{
    return TextString(openFilesText(collective).c_str());
}

void LogStream::breakFile(bool collective)
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    int& fd = s.fileFd[collective ? 1 : 0];
    if (fd >= 0) {
        if (!collective)
            logWriteAll(fd, "LOG-STATUS: Breaking current log file at " + utcAsctime());
        close(fd);
        fd = -1;
    }

    const std::string path = openFilesText(collective);
    if (path.empty())
        return;
    fd = openLogFile(path);
    if (fd >= 0 && !collective)
        logWriteAll(fd, "LOG-STATUS: Log file opened on host " + hostName() + " at " +
                            utcAsctime());
}

void LogStream::initPrefixSettings()
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    logFillPrefixSettings(s.prefix);
}

LogPrefixSettings& LogStream::prefixSettings()
{
    return logStreamState().prefix;
}
