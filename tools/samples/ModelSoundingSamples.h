// Sample model sounding bulletins: for each model (ETA, RUC, AVN, NGM) and
// forecast hour 0, 3, ..., 48 one bulletin "JUSA<digit>1 KWBC ddhh00" with
// one sounding per station of the model station table.  A sounding holds
// the station (report identifier, station number, position, elevation), its
// forecast time (0 04 194, seconds), two surface values, a profile of the
// fourteen atmospheric quantities from the surface up to 100 hPa and a soil
// profile.  The values follow the standard atmosphere, varied by station,
// model and hour, and stay inside the coding range of their elements.
//
// The bulletins are FM 94 BUFR edition 3 of originating centre 7, local
// table version 1 (the forecast time, report identifier and several profile
// quantities are local elements of that centre).
#ifndef MODELSOUNDINGSAMPLES_H
#define MODELSOUNDINGSAMPLES_H

#include "SampleBulletin.h"

#include <string>
#include <vector>

class ModelSoundingSamples {
public:
    struct Station {
        int number = 0;
        std::string id;
        double latitude = 0, longitude = 0, elevation = 0;
    };

    // The atmospheric profiles in the order of their elements, then the soil
    // profiles.
    enum { NUM_ATMOSPHERIC = 14, NUM_SOIL = 2 };
    static const int ATMOSPHERIC_ELEMENTS[NUM_ATMOSPHERIC];
    static const int SOIL_ELEMENTS[NUM_SOIL];
    static const char* const MODELS[4];
    static const int FORECAST_HOURS = 17;     // 0 to 48 every 3 hours

    struct Sounding {
        Station station;
        int model = 0;                  // index into MODELS
        int forecastHour = 0;
        double seaLevelPressure = 0;    // Pa
        double precipitableWater = 0;   // kg m-2
        std::vector<double> levels[NUM_ATMOSPHERIC];
        std::vector<double> soil[NUM_SOIL];
    };

    // The stations of "number|id|name|latitude|longitude|elevation" lines
    // ("#" comments); false with a reason when none can be read.
    static bool readStations(const std::string& path, std::vector<Station>& stations,
                             std::string& error);
    // The levels and soil layers of a model's profiles.
    static int levelCount(int model);
    static int soilLayerCount(int model);
    // One sounding, the same for the same arguments.
    static Sounding sounding(const Station& station, int model, int forecastHour);
    // The file name of a model's bulletin of an hour.
    static std::string fileName(int model, int forecastHour, const SampleOptions& options);

    // Every bulletin; false with a reason.
    static bool make(const SampleOptions& options, std::vector<SampleBulletin>& bulletins,
                     std::string& error);
    // The bulletin of one model and hour for the stations given.
    static bool encode(const std::vector<Sounding>& soundings, const SampleOptions& options,
                       SampleBulletin& bulletin, std::string& error);
};

#endif
