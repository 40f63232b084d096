#include "TimeUnits.h"

#include "StaticBufrInfo.h"
#include "TableBEntry.h"

#include <netcdf.h>
#include <strings.h>

double TimeUnits::seconds(const char* unit)
{
    static const struct {
        const char* name;
        double seconds;
    } units[] = {{"h", 3600},       {"hour", 3600},    {"hours", 3600},
                 {"min", 60},       {"minute", 60},    {"minutes", 60},
                 {"s", 1},          {"second", 1},     {"seconds", 1}};
    for (const auto& u : units)
        if (unit && strcasecmp(unit, u.name) == 0)
            return u.seconds;
    return 0;
}

double TimeUnits::toVariable(int descriptor, double value, int ncid, const TextString& variable)
{
    if (value == -99999.0 || value == 99999.0)
        return value;
    TableBEntry entry;
    if (!StaticBufrInfo::instance()->getTableBEntry(descriptor, entry))
        return value;
    const double from = seconds(entry.getUnits().c_str());
    if (from == 0)
        return value;
    int var = -1;
    size_t length = 0;
    char units[32];
    if (nc_inq_varid(ncid, variable.c_str(), &var) != NC_NOERR ||
        nc_inq_attlen(ncid, var, "units", &length) != NC_NOERR || length >= sizeof units ||
        nc_get_att_text(ncid, var, "units", units) != NC_NOERR)
        return value;
    units[length] = '\0';
    const double to = seconds(units);
    return to == 0 ? value : value * from / to;
}
