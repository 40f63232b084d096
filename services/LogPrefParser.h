// Reader of the log-preference file: filter, prefix, abort and formatting
// commands applied once, during the first log message of the process.
//
// The file is the one LOG_PREF names, else ".logPref" in the working
// directory, else "$HOME/.logPref".  Each command takes effect as soon as it
// is read; the first command in error is reported at LOG-STATUS ("Line N:
// ...") and ends the parse, the commands before it staying in force.
//
// Commands:
//     P F S C = on|off     filter: process P (this process's name or all),
//                          source file F (or all), sink S (tty, file,
//                          collective or all), category C (or all)
//     K I = on|off         prefix item I (timestamp, processname, filename,
//                          lineno, processid, unixtime) on sink K (or all)
//     X abort = on|off     X bug, debug or verbose in the abort set (fatal
//                          always aborts)
//     forceendl = on|off
//     includePrefixForVerbose_ = on|off, suppressPrefixForVerbose_ = on|off
#ifndef LOGPREFPARSER_H
#define LOGPREFPARSER_H

#include <cstdio>

class LogPrefParser {
public:
    // Finds, reads and applies the preference file.  False when the file
    // could not be processed; the log stream then says so and keeps the
    // commands applied so far.
    static bool parse();
    // Applies the commands of an open file (not closed here); false when a
    // command was in error.
    static bool parseFile(FILE* file);

    // Sink of a sink token (tty 0, file 1, collective 2); another token is
    // reported on standard error and gives 0.
    static int mapTokenToSink(int token);
    // Category bit of a category token; another token is reported on
    // standard error and gives BUG.
    static unsigned mapTokenToCategory(int token);
    // The line of the file being read (0 when none is).
    static int lineNumber();
};

#endif
