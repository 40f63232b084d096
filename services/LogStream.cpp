// The log stream: messages, categories and filtering.
#include "LogStream.h"

#include "LogPrefParser.h"
#include "LogStreamState.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

const char* const categoryNames[] = {"USE",     "EVENT", "PROBLEM", "BUG",       "DEBUG",
                                     "VERBOSE", "DIAG",  "FATAL",   "LOG-STATUS"};
const int lastCategoryIndex = 8;

const char* const abortText = " (LogStream Aborting Program) ";

// Reads the preference file on the first message (or first setFilter).  The
// switch is set first, so the parser's own messages and the failure message
// below pass through startMessage without coming back here.  Runs under the
// lock.
void readPreferencesOnce(LogStreamState& s)
{
    if (s.preferencesRead)
        return;
    s.preferencesRead = true;
    ++s.filterGeneration;
    if (!LogPrefParser::parse())
        QEV_LOG(LogStream::LOG_STATUS, "LogStream")
            << "Can't process log preference file; skipping the rest.\n";
}

void selectSinks(LogStreamState& s, int category, const char* sourceFile)
{
    LogFilter filter = s.defaults;
    s.filterTable.find(TextString(sourceFile), nullptr, &filter);
    for (int sink = 0; sink < 3; ++sink)
        s.current.selected[sink] = filter.passes(sink, static_cast<unsigned>(category));
}

// Puts the message being composed aside (a nested message starts in the
// same thread) and gives the new one a clean stream.
void stashCurrent(LogStreamState& s)
{
    LogStashedMessage saved;
    saved.text = s.stream.str();
    saved.record = s.current;
    saved.format = LogStreamFormat::of(s.stream);
    s.stashed.push_back(saved);
    s.stream.str(std::string());
    s.stream.clear();
    LogStreamFormat().applyTo(s.stream);
}

void restoreStashed(LogStreamState& s)
{
    LogStashedMessage& saved = s.stashed.back();
    s.stream.str(saved.text);
    s.stream.seekp(0, std::ios_base::end);
    s.current = saved.record;
    saved.format.applyTo(s.stream);
    s.stashed.pop_back();
}

// The line one sink gets: its prefix, the text, and the newline that an
// unterminated message is given.
std::string sinkLine(const LogStreamState& s, int sink, const std::string& text,
                     bool addNewline)
{
    const LogCurrentMessage& m = s.current;
    std::string line = logPrefixText(s.prefix, m.category, sink, m.seconds, m.microseconds,
                                     m.sourceFile, m.line, m.noPrefix);
    line += text;
    if (addNewline)
        line += '\n';
    return line;
}

// Writes the message to the log file (0) or the collective file (1),
// reopening it first when a break is pending.
void writeToFile(LogStreamState& s, int which, const std::string& text, bool addNewline)
{
    if (s.breakPending[which]) {
        s.breakPending[which] = false;
        LogStream::breakFile(which == 1);
    }
    if (s.fileFd[which] >= 0)
        logWriteAll(s.fileFd[which], sinkLine(s, which + 1, text, addNewline));
}

// Ends the message: writes it to its sinks, empties the stream, gives the
// outer message back when this one was nested, and releases the lock taken
// by startMessage.  True when the category aborts the process.
bool writeMessage(LogStreamState& s)
{
    // Held in addition to the lock taken by startMessage; an endMessage with
    // no message started only takes and gives back its own.
    std::lock_guard<LogStreamLock> guard(s.lock);
    if (s.depth == 0)
        return false;

    const LogCurrentMessage& m = s.current;
    const bool aborting = (static_cast<unsigned>(m.category) & s.abortMask) != 0;
    if (aborting)
        s.stream << abortText << std::endl;

    const std::string text = s.stream.str();
    if (!text.empty()) {
        bool addNewline = false;
        if (s.forceEndl && text.back() != '\n') {
            logWriteAll(STDERR_FILENO, std::string("LOG-STATUS: Warning: \"") + m.sourceFile +
                                           "\", line " + std::to_string(m.line) +
                                           ": message not terminated with \\n or endl\n");
            addNewline = true;
        }
        // With filtering off every message goes to every sink.
        if (!s.filtering || m.selected[1])
            writeToFile(s, 0, text, addNewline);
        if (!s.filtering || m.selected[2])
            writeToFile(s, 1, text, addNewline);
        if (!s.filtering || m.selected[0])
            logWriteAll(STDERR_FILENO, sinkLine(s, LogStream::TTY, text, addNewline));
    }

    s.stream.str(std::string());
    s.stream.clear();
    LogStreamFormat().applyTo(s.stream);
    --s.depth;
    if (!s.stashed.empty())
        restoreStashed(s);
    s.lock.unlock();
    return aborting;
}

} // namespace

LogStreamState::LogStreamState()
{
    // The defaults are in place (LogFilter's own start value) and the
    // sink-selected flags are clear; only the prefix settings need filling.
    logFillPrefixSettings(prefix);
}

namespace {

// A process that forks while another thread is writing a message must not
// leave its child a lock that nobody there will release: fork waits for the
// message to end, and the child starts with the lock free and its own
// process id.
void lockBeforeFork()
{
    logStreamState().lock.lock();
}

void unlockInParent()
{
    logStreamState().lock.unlock();
}

void unlockInChild()
{
    LogStreamState& s = logStreamState();
    s.prefix.processId = static_cast<int>(getpid());
    s.lock.unlock();
}

LogStreamState* makeState()
{
    LogStreamState* state = new LogStreamState;
    pthread_atfork(lockBeforeFork, unlockInParent, unlockInChild);
    return state;
}

} // namespace

LogStreamState& logStreamState()
{
    // Never destroyed: a static destructor that logs after the run-time's
    // exit handlers have run still finds the state.
    static LogStreamState* const state = makeState();
    return *state;
}

LogStreamFormat LogStreamFormat::of(const std::ostream& stream)
{
    LogStreamFormat f;
    f.flags = stream.flags();
    f.precision = stream.precision();
    f.width = stream.width();
    f.fill = stream.fill();
    return f;
}

void LogStreamFormat::applyTo(std::ostream& stream) const
{
    stream.flags(flags);
    stream.precision(precision);
    stream.width(width);
    stream.fill(fill);
}

void logWriteAll(int fd, const std::string& text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

const char* logCategoryText(int category)
{
    int index = 0;
    for (unsigned c = static_cast<unsigned>(category); c > 1 && index < lastCategoryIndex; c >>= 1)
        ++index;
    return categoryNames[index];
}

const std::string& logProcessName(bool fullPath)
{
    struct Names {
        std::string full;
        std::string shortName;
        Names()
        {
            std::ifstream in("/proc/self/cmdline", std::ios::binary);
            if (!in) {
                full = "unknown";
            } else {
                // Up to the end of the file or the first white space; the
                // name ends at the first NUL.
                std::string raw;
                char c;
                while (in.get(c) && c != ' ' && c != '\t' && c != '\n' && c != '\r' &&
                       c != '\v' && c != '\f')
                    raw += c;
                full = raw.substr(0, raw.find('\0'));
            }
            std::string::size_type slash = full.rfind('/');
            shortName = slash == std::string::npos ? full : full.substr(slash + 1);
        }
    };
    static const Names names;
    return fullPath ? names.full : names.shortName;
}

std::ostream& LogStream::instance()
{
    return logStreamState().stream;
}

bool LogStream::lockHook(bool acquire)
{
    LogStreamState& s = logStreamState();
    if (acquire)
        s.lock.lock();
    else
        s.lock.unlock();
    return true;
}

bool LogStream::startMessage(std::ostream&, int category, const char* sourceFile, int line,
                             bool noPrefix)
{
    LogStreamState& s = logStreamState();
    if (!lockHook(true))
        return true;
    readPreferencesOnce(s);
    if (!sourceFile)
        sourceFile = "";

    const bool nested = s.depth > 0;
    if (nested)
        stashCurrent(s);

    if (s.filtering) {
        selectSinks(s, category, sourceFile);
        if (!s.current.selected[0] && !s.current.selected[1] && !s.current.selected[2]) {
            if (nested)
                restoreStashed(s);
            lockHook(false);
            return true;
        }
    }

    struct timeval now;
    gettimeofday(&now, nullptr);
    s.current.seconds = now.tv_sec;
    s.current.microseconds = now.tv_usec;
    s.current.category = category;
    s.current.sourceFile = sourceFile;
    s.current.line = line;
    s.current.noPrefix = noPrefix;
    ++s.depth;
    return false;
}

void LogStream::endMessage(std::ostream&)
{
    if (writeMessage(logStreamState()))
        abort();
}

void LogStream::breakFiles()
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    s.breakPending[0] = true;
    s.breakPending[1] = true;
}

void LogStream::toggleFiltering()
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    s.filtering = !s.filtering;
    ++s.filterGeneration;
}

unsigned LogStream::filterGeneration()
{
    return logStreamState().filterGeneration.load(std::memory_order_relaxed);
}

void LogStream::setAbortMask(unsigned bits, bool on)
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    if (on)
        s.abortMask |= bits;
    else
        s.abortMask &= ~bits;
}

void LogStream::setForceEndl(bool on)
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    s.forceEndl = on;
}

TextString LogStream::categoryName(int category)
{
    return TextString(logCategoryText(category));
}

TextString LogStream::processName(bool fullPath)
{
    return TextString(logProcessName(fullPath).c_str());
}

void LogStream::updateFilterTable(const TextString& myName, const TextString& processPattern,
                                  const TextString& fileName, int sink, unsigned categories,
                                  bool on)
{
    if (!(processPattern == myName) && !(processPattern == TextString("all")))
        return;
    if (sink < 0 || sink > 2)
        return;
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    ++s.filterGeneration;
    if (fileName == TextString("all")) {
        s.defaults.change(sink, categories, on);
        for (int i = 0; i < s.filterTable.count(); ++i) {
            TextString file = s.filterTable.key(i);
            LogFilter filter = s.filterTable.value(i);
            filter.change(sink, categories, on);
            s.filterTable.insert(file, filter);
        }
        return;
    }
    LogFilter filter = s.defaults;
    s.filterTable.find(fileName, nullptr, &filter);
    filter.change(sink, categories, on);
    s.filterTable.insert(fileName, filter);
}

void LogStream::setFilter(const TextString& fileName, int sink, unsigned categories, bool on)
{
    setFilterForProcess(processName(false), fileName, sink, categories, on);
}

void LogStream::setFilterForProcess(const TextString& processPattern, const TextString& fileName,
                                    int sink, unsigned categories, bool on)
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    readPreferencesOnce(s);
    updateFilterTable(processName(false), processPattern, fileName, sink, categories, on);
}

void LogStream::warnCategoryOff(unsigned category)
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    for (int sink = 0; sink < 3; ++sink)
        if (s.defaults.passes(sink, category))
            return;
    logWriteAll(STDERR_FILENO, std::string("LOG-STATUS: Warning: the ") +
                                   logCategoryText(static_cast<int>(category)) +
                                   " category may have been turned off.\n");
}

void LogStream::warnImportantCategoriesOff()
{
    for (unsigned category : {BUG, PROBLEM, USE, EVENT})
        warnCategoryOff(category);
}

void LogStream::resetFilters()
{
    LogStreamState& s = logStreamState();
    std::lock_guard<LogStreamLock> guard(s.lock);
    for (bool& selected : s.current.selected)
        selected = false;
    s.defaults = LogFilter();
    ++s.filterGeneration;
}
