// The scanner of the log-preference language.
//
// Blanks, tabs and newlines separate tokens; "#" starts a comment to the end
// of the line and also ends a word it follows; "=" is a token of its own.
// A word is a longest run of any other bytes (a carriage return included).
// A word equal to a keyword, compared without regard to letter case, is that
// keyword; any other word is a name whose text goes with it.
#ifndef LOGPREFSCANNER_H
#define LOGPREFSCANNER_H

#include "TextString.h"

#include <cstdio>

class LogPrefScanner {
public:
    // The token numbers of the language.
    enum Token {
        END = 0,
        SUPPRESS_PREFIX_FOR_VERBOSE = 1,
        NAME = 2,
        ALL = 3,
        COLLECTIVE = 4,
        FILE_TOKEN = 5,
        TTY = 6,
        ON = 7,
        OFF = 8,
        TIMESTAMP = 9,
        PROCESSNAME = 10,
        FILENAME = 11,
        LINENO = 12,
        ABORT = 13,
        TRACEBACK = 14,
        BUG = 15,
        PROBLEM = 16,
        EVENT = 17,
        DIAG = 18,
        FATAL = 19,
        USE = 20,
        DEBUG = 21,
        VERBOSE = 22,
        EQUALS = 23,
        FORCEENDL = 24,
        PROCESSID = 25,
        INCLUDE_PREFIX_FOR_VERBOSE = 26,
        LOGDIR = 27,
        UNIXTIME = 28
    };

    // Reads from an open file (not closed here).
    explicit LogPrefScanner(FILE* file) : _file(file), _lineNumber(1) {}

    // The next token; END at the end of the file, and again after it.
    int logPref_lex();
    // The text of the last NAME token.
    const TextString& logPref_text() const { return _text; }
    // The line of the file being read, counted from 1 (every newline read
    // so far, comment lines included).
    int lineNumber() const { return _lineNumber; }

private:
    int get();

    FILE* _file;
    int _lineNumber;
    TextString _text;
};

#endif
