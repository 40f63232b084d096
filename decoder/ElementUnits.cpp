#include "ElementUnits.h"

#include "BulletinLog.h"
#include "ElementForms.h"
#include "LogStream.h"
#include "RecordWriter.h"
#include "StaticBufrInfo.h"
#include "TableBEntry.h"

#include <cctype>
#include <string>

namespace {

enum Quantity {
    DIMENSIONLESS,
    PERCENT,
    DURATION,
    SPEED,
    LENGTH,
    TEMPERATURE,
    PRESSURE,
    ANGLE,
    FREQUENCY,
    MASS_RATIO,
    PRESSURE_RATE
};

// A unit: its value times factor plus offset is the value in the first
// unit of its quantity.
const struct Unit {
    const char* name;    // lower case, single blanks
    Quantity quantity;
    double factor;
    double offset;
} units[] = {
    {"1", DIMENSIONLESS, 1, 0},
    {"code table", DIMENSIONLESS, 1, 0},
    {"flag table", DIMENSIONLESS, 1, 0},
    {"numeric", DIMENSIONLESS, 1, 0},
    {"%", PERCENT, 1, 0},
    {"s", DURATION, 1, 0},
    {"second", DURATION, 1, 0},
    {"seconds", DURATION, 1, 0},
    {"min", DURATION, 60, 0},
    {"minute", DURATION, 60, 0},
    {"minutes", DURATION, 60, 0},
    {"h", DURATION, 3600, 0},
    {"hour", DURATION, 3600, 0},
    {"hours", DURATION, 3600, 0},
    {"d", DURATION, 86400, 0},
    {"day", DURATION, 86400, 0},
    {"days", DURATION, 86400, 0},
    {"m s-1", SPEED, 1, 0},
    {"m/s", SPEED, 1, 0},
    {"kt", SPEED, 1852.0 / 3600.0, 0},
    {"knot", SPEED, 1852.0 / 3600.0, 0},
    {"knots", SPEED, 1852.0 / 3600.0, 0},
    {"km/h", SPEED, 1 / 3.6, 0},
    {"km h-1", SPEED, 1 / 3.6, 0},
    {"m", LENGTH, 1, 0},
    {"gpm", LENGTH, 1, 0},
    {"km", LENGTH, 1000, 0},
    {"cm", LENGTH, 0.01, 0},
    {"mm", LENGTH, 0.001, 0},
    {"ft", LENGTH, 0.3048, 0},
    {"k", TEMPERATURE, 1, 0},
    {"c", TEMPERATURE, 1, 273.15},
    {"celsius", TEMPERATURE, 1, 273.15},
    {"degc", TEMPERATURE, 1, 273.15},
    {"pa", PRESSURE, 1, 0},
    {"hpa", PRESSURE, 100, 0},
    {"mb", PRESSURE, 100, 0},
    {"kpa", PRESSURE, 1000, 0},
    {"degree", ANGLE, 1, 0},
    {"degrees", ANGLE, 1, 0},
    {"deg", ANGLE, 1, 0},
    {"degree true", ANGLE, 1, 0},
    {"degrees_north", ANGLE, 1, 0},
    {"degree_north", ANGLE, 1, 0},
    {"degrees_east", ANGLE, 1, 0},
    {"degree_east", ANGLE, 1, 0},
    {"hz", FREQUENCY, 1, 0},
    {"khz", FREQUENCY, 1e3, 0},
    {"mhz", FREQUENCY, 1e6, 0},
    {"ghz", FREQUENCY, 1e9, 0},
    {"kg kg-1", MASS_RATIO, 1, 0},
    {"kg/kg", MASS_RATIO, 1, 0},
    {"g kg-1", MASS_RATIO, 0.001, 0},
    {"g/kg", MASS_RATIO, 0.001, 0},
    {"pa s-1", PRESSURE_RATE, 1, 0},
    {"pa/s", PRESSURE_RATE, 1, 0},
};

// Lower case, without leading and trailing blanks, inner runs as one blank.
std::string normalized(const char* text)
{
    std::string out;
    for (const char* c = text; c && *c; ++c) {
        if (std::isspace(static_cast<unsigned char>(*c))) {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
            continue;
        }
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    if (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

const Unit* find(const std::string& name)
{
    for (const Unit& u : units)
        if (name == u.name)
            return &u;
    return nullptr;
}

// A value of normalized unit a in normalized unit b; false, value
// unchanged, when no conversion is known.
bool convertNormalized(const std::string& a, const std::string& b, double& value)
{
    if (a == b)
        return true;
    const Unit* ua = find(a);
    const Unit* ub = find(b);
    if (!ua || !ub || ua->quantity != ub->quantity)
        return false;
    value = (value * ua->factor + ua->offset - ub->offset) / ub->factor;
    return true;
}

} // namespace

namespace {

// The conversion of toVariable; element and units get the texts of the two
// units when no conversion between them is known (false).
bool convertInto(int descriptor, double& value, RecordWriter& writer, const TextString& variable,
                 TextString& element, TextString& units)
{
    if (!ElementForms::given(value))
        return true;
    TableBEntry entry;
    if (!StaticBufrInfo::instance()->getTableBEntry(descriptor, entry))
        return true;
    element = entry.getUnits();
    const std::string from = normalized(element.c_str());
    if (from == "ccitt ia5" || !writer.units(variable, units))
        return true;
    return convertNormalized(from, normalized(units.c_str()), value);
}

} // namespace

bool ElementUnits::toVariable(int descriptor, double& value, RecordWriter& writer,
                              const TextString& variable)
{
    TextString element, units;
    return convertInto(descriptor, value, writer, variable, element, units);
}

bool ElementUnits::toVariable(int descriptor, double& value, RecordWriter& writer,
                              const TextString& variable, BulletinLog& log, const char* source,
                              TextString* refusal)
{
    TextString element, units;
    if (convertInto(descriptor, value, writer, variable, element, units))
        return true;
    const TextString why = "The value of " + BulletinLog::descriptorText(descriptor) + " (" +
                           element + ") is not stored in " + variable + " (" + units +
                           "): no conversion between the units is known.";
    if (log.admit(source, "is not stored in"))
        QEV_LOG(LogStream::PROBLEM, source) << why << std::endl;
    if (refusal && refusal->length() == 0)
        *refusal = why;
    return false;
}

bool ElementUnits::betweenElements(int from, int to, double& value)
{
    if (from == to || !ElementForms::given(value))
        return true;
    TableBEntry x, y;
    StaticBufrInfo* tables = StaticBufrInfo::instance();
    if (!tables->getTableBEntry(from, x) || !tables->getTableBEntry(to, y))
        return false;
    return convertNormalized(normalized(x.getUnits().c_str()), normalized(y.getUnits().c_str()),
                             value);
}
