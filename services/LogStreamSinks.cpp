// The log stream's sinks: log file names, their directories, opening and
// breaking the files, and the prefix written in front of each message.
#include "LogStream.h"

#include "LogStreamState.h"
#include "LogText.h"
#include "SafeDirectory.h"

#include <cerrno>
#include <climits>
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

// Says once, on standard error, that the log files go under the working
// directory for want of LOG_DIR, and which directory that is.
void sayLogDirUnset()
{
    static bool said = false;
    if (said)
        return;
    said = true;
    char cwd[PATH_MAX];
    logWriteAll(STDERR_FILENO,
                std::string("LOG_DIR is not set: the log files go under the working directory ") +
                    (getcwd(cwd, sizeof cwd) ? LogText(cwd).escaped() : strerror(errno)) +
                    "\n");
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
        case 'L':
            if ((env = getenv("LOG_DIR"))) {
                path += env;
            } else {
                path += "./";
                sayLogDirUnset();
            }
            break;
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

// Opens the directory of a log file's path (all but its last component),
// making what is missing with mode 0777, and sets nameAt to where the file
// name begins.  The directories are open to every user, so each part is
// opened on the one before it (SafeDirectory): a part another user laid in
// place of the process's own (a link, another user's directory) is refused.
// -1 after a line on standard error.
int openLogDirectory(const std::string& path, size_t& nameAt)
{
    SafeDirectory::Failure failure;
    const int fd = SafeDirectory::openParent(path.c_str(), &nameAt, 0777, &failure);
    if (fd >= 0)
        return fd;
    std::string dir = path.substr(0, failure.partEnd > 0 ? failure.partEnd : path.size());
    if (failure.refusal == SafeDirectory::SYSTEM && failure.error == ENOTDIR) {
        // A file where a directory is wanted: the directory after it is the
        // one that cannot be made, or, when it is the file's own directory,
        // the file cannot be opened.
        const std::string::size_type next = path.find('/', failure.partEnd + 1);
        if (failure.partEnd + 1 >= nameAt || next == std::string::npos) {
            logWriteAll(STDERR_FILENO, "Cannot open log file: " + LogText(path).escaped() +
                                           ": " + strerror(ENOTDIR) + ".\n");
            return -1;
        }
        dir = path.substr(0, next);
    }
    logWriteAll(STDERR_FILENO, "Cannot make or write directory " + LogText(dir).escaped() +
                                   ": " + SafeDirectory::reasonText(failure) + "\n");
    return -1;
}

// Opens a log file for appending, made when missing, in its directory
// (dirFd).  Other users can write the log directory, so what its name leads
// to is taken only when it is a regular file of this process's user with no
// other name: never through a symbolic link, never another user's file, a
// device, a FIFO or a hard link to a file elsewhere.  Its mode is given to
// what was opened.  -1 after a line on standard error.
int openLogFile(int dirFd, const std::string& path, size_t nameAt)
{
    SafeDirectory::Failure failure;
    int fd = SafeDirectory::openFileAt(dirFd, path.c_str() + nameAt,
                                       O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK, 0666,
                                       SafeDirectory::OWN_FILE, &failure);
    // Mode 0666 whatever the file-creation mask, without changing the mask
    // (other threads may be making files).
    if (fd >= 0 && fchmod(fd, 0666) != 0) {
        failure.refusal = SafeDirectory::SYSTEM;
        failure.error = errno;
        close(fd);
        fd = -1;
    }
    if (fd < 0)
        logWriteAll(STDERR_FILENO, "Cannot open log file: " + LogText(path).escaped() + ": " +
                                       SafeDirectory::reasonText(failure) + ".\n");
    return fd;
}

// The path of a log file, with its directories made, and the directory
// open (dirFd, -1 when it failed: the path is then empty).
std::string openFilesText(bool collective, int& dirFd, size_t& nameAt)
{
    const char* env = getenv(collective ? "COLLECTIVE_FILE" : "LOG_FILE");
    const std::string path =
        expandTemplate(env ? env : (collective ? defaultCollectiveTemplate : defaultLogTemplate),
                       collective);
    dirFd = openLogDirectory(path, nameAt);
    return dirFd >= 0 ? path : std::string();
}

} // namespace

void logFillPrefixSettings(LogPrefixSettings& settings)
{
    settings.flags[0] = settings.flags[1] = settings.flags[2] = 0;
    settings.verbosePrefixMask = 0;
    // The name the process was started with is another process's text.
    settings.processName = TextString(LogText(logProcessName(false)).escaped().c_str());
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
    int dirFd = -1;
    size_t nameAt = 0;
    const std::string path = openFilesText(collective, dirFd, nameAt);
    if (dirFd >= 0)
        close(dirFd);
    return TextString(path.c_str());
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

    int dirFd = -1;
    size_t nameAt = 0;
    const std::string path = openFilesText(collective, dirFd, nameAt);
    if (dirFd < 0)
        return;
    fd = openLogFile(dirFd, path, nameAt);
    close(dirFd);
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
