// Sample wind profiler bulletins of the two networks: NPN (404 MHz radars,
// designator 43) and CAP (915 MHz boundary-layer radars, designators 40 and
// 46).  Each bulletin "IUPT4<d> KBOU ddhh00" holds one data subset per
// station: the WMO block and station number, the time of the hourly
// average, the position and elevation, the equipment (wind profiler), the
// averaging period and the radar's mean frequency, then the levels in a
// delayed replication, low mode first, eleven quantities a level (PROFILE).
// The winds strengthen and veer with height; the upper gates of the high
// mode carry missing winds, as real profilers lose their signal there.
//
// The bulletins are FM 94 BUFR edition 4 of originating centre 59 with WMO
// elements only; every value is a multiple of its element's resolution.
#ifndef PROFILERSAMPLES_H
#define PROFILERSAMPLES_H

#include "SampleBulletin.h"

#include <string>
#include <vector>

class ProfilerSamples {
public:
    enum Network { NPN, CAP };

    struct Station {
        int block = 0, number = 0;
        Network network = NPN;
        double latitude = 0, longitude = 0, elevation = 0;
        long id() const { return block * 1000L + number; }
    };

    // The quantities of a level, in their order in the bulletin: height,
    // mode, quality flags, u/v consensus count, u, v, w, horizontal and
    // vertical speed deviations, signal-to-noise ratio, w consensus count.
    enum { NUM_QUANTITIES = 11 };
    static const int PROFILE[NUM_QUANTITIES];

    struct Profile {
        Station station;
        int hour = 0;                 // the end of the hourly average (UTC)
        // levels[q][k]: quantity q at level k; missing values are NaN.
        std::vector<double> levels[NUM_QUANTITIES];
        int levelCount() const { return static_cast<int>(levels[0].size()); }
    };

    // The sample stations, NPN first.
    static const std::vector<Station>& stations();
    // One profile, the same for the same arguments.
    static Profile profile(const Station& station, int hour);
    // The file name of a bulletin of a designator digit and hour.
    static std::string fileName(int designator, int hour, const SampleOptions& options);

    // Every bulletin: NPN for the three hours up to the options' hour, CAP
    // for that hour, its stations taken in turn by its two designators (at
    // most options.stations stations a bulletin).  False with a reason.
    static bool make(const SampleOptions& options, std::vector<SampleBulletin>& bulletins,
                     std::string& error);
    // The bulletin of the profiles given under a designator digit.
    static bool encode(const std::vector<Profile>& profiles, int designator,
                       const SampleOptions& options, SampleBulletin& bulletin, std::string& error);
};

#endif
