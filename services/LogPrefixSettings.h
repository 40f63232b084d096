// What each sink writes in front of a message, and who this process is.
#ifndef LOGPREFIXSETTINGS_H
#define LOGPREFIXSETTINGS_H

#include "TextString.h"

struct LogPrefixSettings {
    // Prefix items by flag bit (the names are the preference keywords).
    enum Item {
        TIMESTAMP = 1,
        PROCESSNAME = 2,
        FILENAME = 4,
        LINENO = 8,
        PROCESSID = 16,
        UNIXTIME = 32
    };

    // One word of prefix items per sink (terminal, log file, collective).
    unsigned flags[3] = {0, 0, 0};
    // Categories that keep their prefix even when a message asks for none.
    unsigned verbosePrefixMask = 0;
    TextString processName;
    int processId = 0;
};

#endif
