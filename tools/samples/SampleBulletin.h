// One sample bulletin: its file name and its octets (a WMO heading and one
// FM 94 BUFR message), and the options every sample maker takes.
#ifndef SAMPLEBULLETIN_H
#define SAMPLEBULLETIN_H

#include <string>
#include <vector>

struct SampleBulletin {
    std::string name;
    std::vector<unsigned char> bytes;
};

struct SampleOptions {
    // The run-time data folder ($QEV_HOME/data): the BUFR table B and the
    // data type's station table.
    std::string dataDir;
    // Reference (or observation) time of the bulletins, UTC.
    int year = 2024, month = 6, day = 1, hour = 12;
    // How many stations of the station table, from its first (0: all).
    int stations = 6;
};

#endif
