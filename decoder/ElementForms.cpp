#include "ElementForms.h"

#include "BufrDecoder.h"
#include "ElementUnits.h"

#include <algorithm>
#include <cmath>

namespace {

typedef ElementForms F;

// The forms, quantity by quantity; where a store names the forms of a
// quantity it holds, it names them in this order.
const F::Form FORMS[] = {
    // Heights of a level, a wind or an aircraft.
    {7002, F::HEIGHT, F::GEOMETRIC, "a height or altitude"},
    {7007, F::HEIGHT, F::GEOMETRIC, "a height"},
    {10007, F::HEIGHT, F::GEOMETRIC, "a height"},
    {7009, F::HEIGHT, F::GEOPOTENTIAL_HEIGHT, "a geopotential height"},
    {10009, F::HEIGHT, F::GEOPOTENTIAL_HEIGHT, "a geopotential height"},
    {7003, F::HEIGHT, F::GEOPOTENTIAL, "a geopotential"},
    {7008, F::HEIGHT, F::GEOPOTENTIAL, "a geopotential"},
    {10008, F::HEIGHT, F::GEOPOTENTIAL, "a geopotential"},
    {7006, F::HEIGHT, F::ABOVE_STATION, "a height above the station"},
    {7010, F::HEIGHT, F::FLIGHT_LEVEL, "a flight level"},
    {10070, F::HEIGHT, F::INDICATED_ALTITUDE, "an indicated aircraft altitude"},
    {10053, F::HEIGHT, F::SATELLITE_ALTITUDE, "a satellite navigation altitude"},
    // A station's elevation.
    {7030, F::ELEVATION, F::GEOMETRIC, "the height of the station ground"},
    {7001, F::ELEVATION, F::GEOMETRIC, "the height of the station"},
    {10001, F::ELEVATION, F::GEOMETRIC, "the height of the land surface"},
    {7004, F::PRESSURE, F::STATIC_PRESSURE, "a pressure"},
    {10004, F::PRESSURE, F::STATIC_PRESSURE, "a pressure"},
    {12101, F::TEMPERATURE, F::AIR_TEMPERATURE, "an air temperature"},
    {12001, F::TEMPERATURE, F::AIR_TEMPERATURE, "an air temperature"},
    {12104, F::TEMPERATURE, F::AIR_TEMPERATURE_AT_2M, "an air temperature at 2 m"},
    {12004, F::TEMPERATURE, F::AIR_TEMPERATURE_AT_2M, "an air temperature at 2 m"},
    {13001, F::HUMIDITY, F::SPECIFIC_HUMIDITY, "a specific humidity"},
    {13002, F::HUMIDITY, F::MIXING_RATIO, "a mixing ratio"},
    {12103, F::HUMIDITY, F::DEWPOINT, "a dewpoint"},
    {12003, F::HUMIDITY, F::DEWPOINT, "a dewpoint"},
    {13003, F::HUMIDITY, F::RELATIVE_HUMIDITY, "a relative humidity"},
    {13009, F::HUMIDITY, F::RELATIVE_HUMIDITY, "a relative humidity"},
    {11003, F::WIND, F::EASTWARD, "an eastward wind component"},
    {11004, F::WIND, F::NORTHWARD, "a northward wind component"},
    {11001, F::WIND, F::DIRECTION, "a wind direction"},
    {11002, F::WIND, F::SPEED, "a wind speed"},
    {11083, F::WIND, F::SPEED, "a wind speed"},
    {11084, F::WIND, F::SPEED, "a wind speed"},
    {11005, F::VERTICAL_WIND, F::PRESSURE_VELOCITY, "a vertical velocity in Pa/s"},
    {11006, F::VERTICAL_WIND, F::VERTICAL_SPEED, "a vertical velocity in m/s"},
    {13226, F::SOIL_MOISTURE, F::VOLUMETRIC_MOISTURE, "a volumetric soil moisture"},
    {13111, F::SOIL_MOISTURE, F::MOISTURE_BY_MASS, "a soil moisture by mass"},
    {13197, F::SOIL_MOISTURE, F::MOISTURE_AS_DEPTH, "a soil moisture as a depth of water"},
    {20010, F::CLOUD_AMOUNT, F::TOTAL_COVER, "a total cloud cover"},
    {20011, F::CLOUD_AMOUNT, F::OKTAS, "a cloud amount in oktas"},
    {4006, F::SECOND, F::SECONDS, "a second"},
    {4007, F::SECOND, F::SECONDS, "a second to the microsecond"},
    {4026, F::TIME_PERIOD, F::DURATION, "a time period in seconds"},
    {4025, F::TIME_PERIOD, F::DURATION, "a time period in minutes"},
    {4024, F::TIME_PERIOD, F::DURATION, "a time period in hours"},
    {4023, F::TIME_PERIOD, F::DURATION, "a time period in days"},
    {4022, F::TIME_PERIOD, F::MONTHS, "a time period in months"},
    {4021, F::TIME_PERIOD, F::YEARS, "a time period in years"},
    {1211, F::STATION_NUMBER, F::STATION_DIGITS, "a station number of 6 digits"},
    {1205, F::STATION_NUMBER, F::STATION_DIGITS, "a station number of 5 digits"},
    {1001, F::STATION_NUMBER, F::WMO_BLOCK, "a WMO block number"},
    {1002, F::STATION_NUMBER, F::WMO_STATION, "a WMO station number"},
    {5001, F::LATITUDE, F::HIGH_ACCURACY, "a latitude of high accuracy"},
    {5002, F::LATITUDE, F::COARSE_ACCURACY, "a latitude of coarse accuracy"},
    {6001, F::LONGITUDE, F::HIGH_ACCURACY, "a longitude of high accuracy"},
    {6002, F::LONGITUDE, F::COARSE_ACCURACY, "a longitude of coarse accuracy"},
};

const struct {
    F::Quantity quantity;
    const char* words;
} QUANTITY_WORDS[] = {
    {F::NO_QUANTITY, "value"},       {F::HEIGHT, "height"},
    {F::ELEVATION, "elevation"},     {F::PRESSURE, "pressure"},
    {F::TEMPERATURE, "temperature"}, {F::HUMIDITY, "humidity"},
    {F::WIND, "wind"},               {F::VERTICAL_WIND, "vertical wind"},
    {F::SOIL_MOISTURE, "soil moisture"}, {F::CLOUD_AMOUNT, "cloud cover"},
    {F::SECOND, "second"},           {F::TIME_PERIOD, "time period"},
    {F::STATION_NUMBER, "station number"},
    {F::LATITUDE, "latitude"},       {F::LONGITUDE, "longitude"},
};

// The heights of the three measures that convert into one another.
bool convertingHeight(F::Measure m)
{
    return m == F::GEOMETRIC || m == F::GEOPOTENTIAL_HEIGHT || m == F::GEOPOTENTIAL;
}

const double G0 = 9.80665;      // m s-2, the standard gravity
const double R0 = 6356766.0;    // m, the standard atmosphere's earth radius

// A height of one measure as one of another: through the geopotential
// height.
double convertHeight(F::Measure from, F::Measure to, double value)
{
    double h = value;
    if (from == F::GEOPOTENTIAL)
        h = value / G0;
    else if (from == F::GEOMETRIC)
        h = R0 * value / (R0 + value);
    if (to == F::GEOPOTENTIAL)
        return h * G0;
    if (to == F::GEOMETRIC)
        return R0 * h / (R0 - h);
    return h;
}

} // namespace

const ElementForms::Form* ElementForms::form(int descriptor)
{
    // The catalogue sorted by element, once.
    static const std::vector<const Form*> sorted = [] {
        std::vector<const Form*> all;
        for (const Form& f : FORMS)
            all.push_back(&f);
        std::sort(all.begin(), all.end(),
                  [](const Form* a, const Form* b) { return a->descriptor < b->descriptor; });
        return all;
    }();
    const auto at = std::lower_bound(
        sorted.begin(), sorted.end(), descriptor,
        [](const Form* f, int d) { return f->descriptor < d; });
    return at != sorted.end() && (*at)->descriptor == descriptor ? *at : nullptr;
}

ElementForms::Quantity ElementForms::quantityOf(int descriptor)
{
    const Form* f = form(descriptor);
    return f ? f->quantity : NO_QUANTITY;
}

bool ElementForms::gives(int descriptor, Quantity quantity)
{
    const Form* f = form(descriptor);
    return f && (f->quantity == quantity ||
                 (quantity == ELEVATION && f->quantity == HEIGHT && convertingHeight(f->measure)));
}

std::vector<const ElementForms::Form*> ElementForms::forms(Quantity quantity)
{
    std::vector<const Form*> out;
    for (const Form& f : FORMS)
        if (f.quantity == quantity)
            out.push_back(&f);
    // A station's elevation may come as any height that converts into it.
    if (quantity == ELEVATION)
        for (const Form& f : FORMS)
            if (f.quantity == HEIGHT && convertingHeight(f.measure))
                out.push_back(&f);
    return out;
}

const char* ElementForms::words(Quantity quantity)
{
    for (const auto& q : QUANTITY_WORDS)
        if (q.quantity == quantity)
            return q.words;
    return "value";
}

bool ElementForms::converts(int from, int to)
{
    double probe = 0.0;
    return convert(from, to, probe);
}

bool ElementForms::convert(int from, int to, double& value)
{
    if (from == to)
        return true;
    const Form* a = form(from);
    const Form* b = form(to);
    if (!a || !b)
        return false;
    if (convertingHeight(a->measure) && convertingHeight(b->measure)) {
        if (given(value) && a->measure != b->measure)
            value = convertHeight(a->measure, b->measure, value);
        return true;
    }
    // A position of either accuracy is one in degrees.
    const auto accuracy = [](Measure m) { return m == HIGH_ACCURACY || m == COARSE_ACCURACY; };
    if (a->quantity != b->quantity ||
        (a->measure != b->measure && !(accuracy(a->measure) && accuracy(b->measure))))
        return false;
    double converted = value;
    if (!ElementUnits::betweenElements(from, to, converted))
        return false;
    if (given(value))
        value = converted;
    return true;
}

bool ElementForms::given(double value)
{
    return std::isfinite(value) && value != BufrDecoder::MISSING_VALUE &&
           value != BufrDecoder::NOT_IN_TABLE_B;
}
