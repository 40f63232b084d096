// Reader of the log-preference file: filter, prefix, abort and formatting
// commands applied once, during the first log message of the process.
#ifndef LOGPREFPARSER_H
#define LOGPREFPARSER_H

class LogPrefParser {
public:
    // Finds, reads and applies the preference file.  False when the file
    // could not be processed; the log stream then says so and keeps the
    // commands applied so far.
    static bool parse();
};

#endif
