// The log stream's process-wide state, shared by its source files
// (LogStream.cpp: messages and filtering; LogStreamSinks.cpp: files and
// prefixes).  Not for other users: they go through LogStream.
#ifndef LOGSTREAMSTATE_H
#define LOGSTREAMSTATE_H

#include "Dict.h"
#include "LogFilter.h"
#include "LogPrefixSettings.h"
#include "LogStreamLock.h"
#include "TextString.h"

#include <atomic>
#include <ios>
#include <sstream>
#include <string>
#include <vector>

struct LogCurrentMessage {
    long seconds = 0;
    long microseconds = 0;
    int category = 0;
    const char* sourceFile = "";
    int line = 0;
    bool noPrefix = false;
    bool selected[3] = {false, false, false};
};

// The formatting state of the message stream (flags, precision, fill and
// width), put back to the defaults for each new message.
struct LogStreamFormat {
    std::ios_base::fmtflags flags = std::ios_base::dec | std::ios_base::skipws;
    std::streamsize precision = 6;
    std::streamsize width = 0;
    char fill = ' ';

    static LogStreamFormat of(const std::ostream& stream);
    void applyTo(std::ostream& stream) const;
};

// A message put aside while a nested one (same thread) is composed.
struct LogStashedMessage {
    std::string text;
    LogCurrentMessage record;
    LogStreamFormat format;
};

struct LogStreamState {
    LogStreamState();

    LogStreamLock lock;
    std::ostringstream stream;
    LogCurrentMessage current;
    Dict<TextString, LogFilter> filterTable;
    LogFilter defaults;

    // LogStream::filterGeneration: moved on by every change of the filters.
    std::atomic<unsigned> filterGeneration{0};
    bool filtering = true;
    bool forceEndl = true;
    unsigned abortMask = 128;  // FATAL, always
    bool preferencesRead = false;
    bool breakPending[2] = {true, true};  // log file, collective file

    int fileFd[2] = {-1, -1};  // log file, collective file
    LogPrefixSettings prefix;

    // Messages started and not yet ended (more than one only when nested in
    // one thread), and the outer messages put aside meanwhile.
    int depth = 0;
    std::vector<LogStashedMessage> stashed;
};

// The state, made on first use and never destroyed, so that messages from
// static initialisers and static destructors find it whole.
LogStreamState& logStreamState();

// Writes all of text to a descriptor (one write call when it can), going on
// after interrupted and partial writes.
void logWriteAll(int fd, const std::string& text);

// The category name as text ("USE" .. "LOG-STATUS").
const char* logCategoryText(int category);

// The prefix of one sink for the current message.
std::string logPrefixText(const LogPrefixSettings& settings, int category, int sink,
                          long seconds, long microseconds, const char* sourceFile, int line,
                          bool noPrefix);

// Fills prefix settings with their start values (no items, this process).
void logFillPrefixSettings(LogPrefixSettings& settings);

// The short and full process names, read once.
const std::string& logProcessName(bool fullPath);

#endif
