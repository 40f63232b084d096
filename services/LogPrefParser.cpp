#include "LogPrefParser.h"

#include "LogPrefScanner.h"
#include "LogPrefixSettings.h"
#include "LogStream.h"
#include "LogText.h"
#include "TextString.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

typedef LogPrefScanner S;

// The scanner of the file being parsed (for lineNumber).
LogPrefScanner* activeScanner = nullptr;

bool isSinkToken(int t)
{
    return t == S::TTY || t == S::FILE_TOKEN || t == S::COLLECTIVE;
}

bool isCategoryToken(int t)
{
    return t >= S::BUG && t <= S::VERBOSE;
}

// The prefix item bit of a token, 0 when it is none.
unsigned prefixItem(int t)
{
    switch (t) {
    case S::TIMESTAMP: return LogPrefixSettings::TIMESTAMP;
    case S::PROCESSNAME: return LogPrefixSettings::PROCESSNAME;
    case S::FILENAME: return LogPrefixSettings::FILENAME;
    case S::LINENO: return LogPrefixSettings::LINENO;
    case S::PROCESSID: return LogPrefixSettings::PROCESSID;
    case S::UNIXTIME: return LogPrefixSettings::UNIXTIME;
    default: return 0;
    }
}

void note(const std::string& text)
{
    fputs(text.c_str(), stderr);
    fflush(stderr);
}

class CommandReader {
public:
    explicit CommandReader(LogPrefScanner& scanner) : _scan(scanner), _goOn(true) {}

    bool run()
    {
        for (;;) {
            if (!_goOn)
                return false;
            int t = _scan.logPref_lex();
            if (t == S::END)
                return _goOn;
            command(t);
        }
    }

private:
    void command(int t)
    {
        if (t == S::NAME) {
            TextString process = _scan.logPref_text();
            TextString file;
            if (!fileOperand(_scan.logPref_lex(), file))
                reportError("Can't understand rest of filter command");
            else
                filterCommand(process, file);
        } else if (t == S::ALL) {
            int next = _scan.logPref_lex();
            TextString file;
            if (unsigned item = prefixItem(next))
                prefixCommand(item, -1);
            else if (fileOperand(next, file))
                filterCommand("all", file);
            else
                reportError("Cannot understand filter/prefix control");
        } else if (isSinkToken(t)) {
            unsigned item = prefixItem(_scan.logPref_lex());
            if (!item)
                reportError("Can't understand rest of prefix command");
            else
                prefixCommand(item, LogPrefParser::mapTokenToSink(t));
        } else if (t == S::BUG || t == S::FATAL || t == S::DEBUG || t == S::VERBOSE) {
            categoryCommand(t);
        } else if (t == S::FORCEENDL) {
            bool on;
            if (readSetting(on, "Malformed forceendl command"))
                LogStream::setForceEndl(on);
        } else if (t == S::INCLUDE_PREFIX_FOR_VERBOSE || t == S::SUPPRESS_PREFIX_FOR_VERBOSE) {
            bool include = t == S::INCLUDE_PREFIX_FOR_VERBOSE;
            bool on;
            if (readSetting(on, include ? "Malformed includePrefixForVerbose_ command"
                                        : "Malformed suppressPrefixForVerbose_ command")) {
                unsigned& mask = LogStream::prefixSettings().verbosePrefixMask;
                if (on == include)
                    mask |= LogStream::VERBOSE;
                else
                    mask &= ~static_cast<unsigned>(LogStream::VERBOSE);
            }
        } else {
            reportError("Unexpected symbol/keyword");
        }
    }

    // A source-file operand: a name or all.
    bool fileOperand(int t, TextString& file)
    {
        if (t == S::NAME)
            file = _scan.logPref_text();
        else if (t == S::ALL)
            file = "all";
        else
            return false;
        return true;
    }

    void filterCommand(const TextString& process, const TextString& file)
    {
        int sinkToken = _scan.logPref_lex();
        if (!isSinkToken(sinkToken) && sinkToken != S::ALL) {
            reportError("Sink missing from filter command");
            return;
        }
        int categoryToken = _scan.logPref_lex();
        if (!isCategoryToken(categoryToken) && categoryToken != S::ALL) {
            reportError("Message category missing from filter command");
            return;
        }
        bool on;
        if (!readSetting(on, "Malformed filter command"))
            return;

        static const unsigned allCategories[] = {
            LogStream::BUG, LogStream::PROBLEM, LogStream::EVENT,
            LogStream::DIAG, LogStream::FATAL, LogStream::USE,
            LogStream::DEBUG, LogStream::VERBOSE, LogStream::LOG_STATUS};
        TextString myName = LogStream::processName(false);
        for (int sink = 0; sink < 3; ++sink) {
            if (sinkToken != S::ALL && sink != LogPrefParser::mapTokenToSink(sinkToken))
                continue;
            for (unsigned category : allCategories) {
                if (categoryToken != S::ALL &&
                    category != LogPrefParser::mapTokenToCategory(categoryToken))
                    continue;
                LogStream::updateFilterTable(myName, process, file, sink, category, on);
            }
        }
    }

    // A prefix item on one sink, or on all three for sink -1.
    void prefixCommand(unsigned item, int sink)
    {
        bool on;
        if (!readSetting(on, "Malformed prefix command"))
            return;
        for (int k = 0; k < 3; ++k) {
            if (sink < 0 || sink == k)
                LogStream::setPrefixFlag(LogStream::prefixSettings().flags, item, k, on);
        }
    }

    void categoryCommand(int categoryToken)
    {
        int t = _scan.logPref_lex();
        if (t == S::ABORT) {
            bool on;
            if (!readSetting(on, "Malformed abort command"))
                return;
            if (categoryToken != S::FATAL)
                LogStream::setAbortMask(LogPrefParser::mapTokenToCategory(categoryToken), on);
            else if (!on)
                note("LOG-STATUS: Line " + std::to_string(_scan.lineNumber()) +
                     ": You cannot turn abort off for the fatal category.\n");
        } else if (t == S::TRACEBACK) {
            note("Obsolete traceback command in logPref file ignored\n");
            _scan.logPref_lex();
            _scan.logPref_lex();
        }
        // Any other token is consumed and ignored.
    }

    // "= on" or "= off"; both tokens are consumed either way.
    bool readSetting(bool& on, const char* malformed)
    {
        int equals = _scan.logPref_lex();
        int value = _scan.logPref_lex();
        if (equals != S::EQUALS || (value != S::ON && value != S::OFF)) {
            reportError(malformed);
            return false;
        }
        on = value == S::ON;
        return true;
    }

    void reportError(const char* message)
    {
        QEV_LOG(LogStream::LOG_STATUS, "LogPrefParser")
            << "Line " << _scan.lineNumber() << ": " << message << std::endl;
        _goOn = false;
    }

    LogPrefScanner& _scan;
    bool _goOn;
};

}  // namespace

bool LogPrefParser::parse()
{
    FILE* file = nullptr;
    if (const char* named = getenv("LOG_PREF")) {
        file = fopen(named, "r");
        if (!file) {
            int error = errno;
            note(std::string("Can't open log preference file specified by LOG_PREF") +
                 "\nenvironment variable (LOG_PREF = " + LogText(named).escaped() + "): " +
                 strerror(error) + ".\n");
            return false;
        }
    } else {
        file = fopen(".logPref", "r");
        if (!file) {
            const char* home = getenv("HOME");
            file = fopen((std::string(home ? home : "") + "/.logPref").c_str(), "r");
        }
        if (!file) {
            note("Can't open .logPref or ~/.logPref; using defaults.\n");
            return true;
        }
    }
    bool ok = parseFile(file);
    fclose(file);
    return ok;
}

bool LogPrefParser::parseFile(FILE* file)
{
    LogPrefScanner scanner(file);
    LogPrefScanner* outer = activeScanner;
    activeScanner = &scanner;
    bool ok = CommandReader(scanner).run();
    activeScanner = outer;
    return ok;
}

int LogPrefParser::mapTokenToSink(int token)
{
    switch (token) {
    case S::TTY: return LogStream::TTY;
    case S::FILE_TOKEN: return LogStream::FILE_SINK;
    case S::COLLECTIVE: return LogStream::COLLECTIVE;
    default:
        note("LogPrefParser::mapTokenToSink(): unknown sinkToken: " + std::to_string(token) +
             "\n");
        return 0;
    }
}

unsigned LogPrefParser::mapTokenToCategory(int token)
{
    switch (token) {
    case S::BUG: return LogStream::BUG;
    case S::PROBLEM: return LogStream::PROBLEM;
    case S::EVENT: return LogStream::EVENT;
    case S::DIAG: return LogStream::DIAG;
    case S::FATAL: return LogStream::FATAL;
    case S::USE: return LogStream::USE;
    case S::DEBUG: return LogStream::DEBUG;
    case S::VERBOSE: return LogStream::VERBOSE;
    default:
        note("LogPrefParser::mapTokenToCategory(): unknown categoryToken: " +
             std::to_string(token) + "\n");
        return LogStream::BUG;
    }
}

int LogPrefParser::lineNumber()
{
    return activeScanner ? activeScanner->lineNumber() : 0;
}
