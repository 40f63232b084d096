// Sample scatterometer wind bulletins: one compressed bulletin
// "ISXX01 KNES ddhh00" of CELLS wind vector cells along one pass of a polar
// orbiter over the Pacific, observed over the hour of the options.  A cell
// holds the satellite and orbit number, its time to the second, position,
// the wind vector cell quality (rain flagged for a band of cells, missing
// for some), the number of ambiguities, the rain probability, the NOF rain
// index, the 10 m wind speed and direction and the likelihood of the
// selected solution.
//
// The bulletins are FM 94 BUFR edition 4 in compressed form, of WMO
// elements only.
#ifndef QUIKSCATSAMPLES_H
#define QUIKSCATSAMPLES_H

#include "SampleBulletin.h"

#include <string>
#include <vector>

class QuikScatSamples {
public:
    static const int CELLS = 1200;
    static const int SATELLITE = 281;
    static const int ORBIT = 54321;

    struct Cell {
        double satellite = 0, orbit = 0, minute = 0, second = 0;
        double latitude = 0, longitude = 0;
        double quality = 0;       // NaN when missing
        double ambiguities = 0, rainProbability = 0, nofRainIndex = 0;
        double speed = 0, direction = 0, likelihood = 0;
    };

    // The first count cells, the same for the same count.
    static std::vector<Cell> cells(int count = CELLS);
    // What the store's "rainIndex" holds for a cell: 1 when its quality word
    // is there, 0 when it is missing.
    static int rainIndex(const Cell& cell);
    static std::string fileName(const SampleOptions& options);
    static bool encode(const std::vector<Cell>& cells, const SampleOptions& options,
                       SampleBulletin& out, std::string& error);
    static bool make(const SampleOptions& options, std::vector<SampleBulletin>& bulletins,
                     std::string& error);
};

#endif
