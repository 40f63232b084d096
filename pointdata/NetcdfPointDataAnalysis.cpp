// Template analysis: the layout of a point-data file (global attributes,
// dimensions, bookkeeping variables) turned into a PointFileStructure, and
// the five readers of template items it uses.
#include "NetcdfPointData.h"

#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"
#include "PointFileStructure.h"
#include "PointNetcdfFileInfo.h"
#include "StoreClock.h"
#include "splitFields.h"

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#define PD_LOG(category) QEV_LOG(LogStream::category, "NetcdfPointData")

namespace {

const int MAX_TEXT_ATTRIBUTE = 999;
const int MAX_LIST_TEXT = 499;
const int MAX_LIST_FIELDS = 30;
const int MAX_LISTED_VARIABLES = 10;
const int MAX_FORECASTS = 100;

// The report-missing switch: on outside an analysis; the analysis turns it
// on before each required item and off before each optional one, so that
// only missing required items are logged.
bool reportMissing = true;

// Turns the switch back on however the analysis ends.
struct SwitchRestorer {
    ~SwitchRestorer() { reportMissing = true; }
};

const Set<TextString>& bookkeepingNames()
{
    static const Set<TextString>* names = [] {
        Set<TextString>* s = new Set<TextString>();
        for (const char* n : {"nStaticIds", "staticIds", "lastRecord", "invTime", "prevRecord",
                              "inventory", "globalInventory", "firstOverflow", "isOverflow",
                              "firstInBin", "lastInBin"})
            s->insert(n);
        return s;
    }();
    return *names;
}

bool isBookkeepingName(const TextString& name) { return bookkeepingNames().find(name); }

// An integer as "%d" reads it: optional white space and sign, then digits;
// false when there is no number or it does not fit an int.
bool readDecimal(const TextString& text, int& value)
{
    const char* s = text.c_str();
    char* end = nullptr;
    errno = 0;
    long v = strtol(s, &end, 10);
    if (end == s || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return false;
    value = static_cast<int>(v);
    return true;
}

// The fields of a comma-separated text, white space cut (at most maxFields).
std::vector<TextString> splitList(const TextString& text, int maxFields)
{
    std::vector<char> buffer(text.c_str(), text.c_str() + text.length() + 1);
    std::vector<char*> fields(static_cast<size_t>(maxFields));
    int n = splitFields(buffer.data(), fields.data(), maxFields, ',');
    std::vector<TextString> out;
    for (int i = 0; i < n; ++i)
        out.push_back(fields[static_cast<size_t>(i)]);
    return out;
}

TextString variableName(const NetcdfIo& io, int var)
{
    NetcdfIo::VarInfo info;
    return io.varInfo(var, info) ? info.name : TextString();
}

// Whether a bookkeeping variable has the type and shape the store reads and
// writes it with: its rank is the number of dims given, and each dimension is
// the record dimension (for -1) or at least the length given.  A mismatch is
// logged naming the variable.
bool checkShape(const NetcdfIo& io, int var, int recordDim, nc_type type,
                std::initializer_list<long> dims)
{
    NetcdfIo::VarInfo info;
    bool ok = io.varInfo(var, info) && info.type == type &&
              info.nDims == static_cast<int>(dims.size());
    int k = 0;
    for (long want : dims) {
        if (!ok)
            break;
        int d = info.dims[k++];
        ok = want < 0 ? d == recordDim : io.dimLength(d) >= want;
    }
    if (!ok)
        PD_LOG(PROBLEM) << "Bad variable characteristics for variable "
                        << LogText(variableName(io, var)) << std::endl;
    return ok;
}

} // namespace

bool NetcdfPointData::overrideText(const TextString& name, int maxLength, TextString& value) const
{
    TextString text;
    if (!_overrides.find(name, nullptr, &text) || text.length() > maxLength)
        return false;
    value = text;
    return true;
}

int NetcdfPointData::getVarId(int ncid, const TextString& name)
{
    int id = NetcdfIo(ncid).varId(name.c_str());
    if (id < 0 && reportMissing)
        PD_LOG(PROBLEM) << "Could not get variable id for " << LogText(name) << std::endl;
    return id;
}

int NetcdfPointData::getDimSize(int ncid, const TextString& name)
{
    TextString text;
    if (_overrides.find(name, nullptr, &text)) {
        char* end = nullptr;
        errno = 0;
        long v = strtol(text.c_str(), &end, 10);
        if (end != text.c_str() && errno != ERANGE && v >= 0 && v <= INT_MAX)
            return static_cast<int>(v);
    } else {
        NetcdfIo io(ncid);
        long length = io.dimLength(io.dimId(name.c_str()));
        if (length >= 0 && length <= INT_MAX)
            return static_cast<int>(length);
    }
    if (reportMissing)
        PD_LOG(PROBLEM) << "Could not get size for " << LogText(name) << std::endl;
    return -1;
}

int NetcdfPointData::getIntAttribute(int ncid, const TextString& name, int& value)
{
    TextString text;
    if (_overrides.find(name, nullptr, &text) && readDecimal(text, value))
        return 0;
    if (NetcdfIo(ncid).intAttribute(name.c_str(), value))
        return 0;
    if (reportMissing)
        PD_LOG(PROBLEM) << "Could not get value for " << LogText(name) << std::endl;
    return -1;
}

int NetcdfPointData::getTextAttribute(int ncid, const TextString& name, TextString& value)
{
    int status = 1;
    if (_overrides.find(name)) {
        if (overrideText(name, MAX_TEXT_ATTRIBUTE, value))
            return 0;
    } else {
        status = NetcdfIo(ncid).textAttribute(name.c_str(), MAX_TEXT_ATTRIBUTE, value);
        if (status == 0)
            return 0;
    }
    if (reportMissing) {
        if (status == 1)
            PD_LOG(PROBLEM) << "Bad inquiry about " << LogText(name) << " attribute" << std::endl;
        else
            PD_LOG(PROBLEM) << "Could not get value for " << LogText(name) << std::endl;
    }
    return -1;
}

int NetcdfPointData::getVariableList(int ncid, const TextString& attribute, SeqOf<int>& ids,
                                     int& total, SeqOf<int>& lengths)
{
    NetcdfIo io(ncid);
    ids.setLength(0);
    lengths.setLength(0);
    total = -1;
    const bool isLatLonVars = attribute == "latLonVars";

    TextString text;
    int status = 1;
    if (_overrides.find(attribute))
        status = overrideText(attribute, MAX_LIST_TEXT, text) ? 0 : 1;
    else
        status = io.textAttribute(attribute.c_str(), MAX_LIST_TEXT, text);
    bool report = true;
    if (status != 0) {
        if (isLatLonVars) {
            text = _latLonNames;
            report = false;
        } else if (status == 1) {
            if (reportMissing)
                PD_LOG(PROBLEM) << "Bad inquiry about " << LogText(attribute) << " attribute"
                                << std::endl;
            return -1;
        } else {
            PD_LOG(PROBLEM) << "Could not get value for " << LogText(attribute) << std::endl;
            return -1;
        }
    }

    const bool latLon = isLatLonVars || text == _latLonNames;
    if (latLon) {
        total = -999;
    } else {
        total = 0;
        if (text.length() == 0) {
            if (reportMissing)
                PD_LOG(PROBLEM) << "Attribute name is empty:  " << LogText(attribute) << std::endl;
            return -1;
        }
    }

    std::vector<TextString> names = splitList(text, MAX_LIST_FIELDS);
    if (latLon && names.size() != 2) {
        if (report)
            PD_LOG(PROBLEM) << "latLonVars attribute must contain two entries" << std::endl;
        return -1;
    }
    if (names.size() > static_cast<size_t>(MAX_LISTED_VARIABLES)) {
        if (report)
            PD_LOG(PROBLEM) << "Too many variables listed in  " << LogText(attribute) << std::endl;
        return -1;
    }

    int nDims = 0, nVars = 0, nAtts = 0, recordDim = -1;
    io.inquire(nDims, nVars, nAtts, recordDim);
    int wantDims = latLon ? 1 : -1;
    nc_type wantType = latLon ? NC_FLOAT : NC_NAT;
    for (const TextString& name : names) {
        int id = io.varId(name.c_str());
        if (id < 0) {
            if (report)
                PD_LOG(PROBLEM) << "Variable " << LogText(name) << " listed in "
                                << LogText(attribute) << " not found." << std::endl;
            return -1;
        }
        NetcdfIo::VarInfo info;
        if (!io.varInfo(id, info) || info.nDims < 1 || info.nDims > 2 ||
            info.dims[0] != recordDim) {
            if (report)
                PD_LOG(PROBLEM) << "Variable " << LogText(name) << " listed in "
                                << LogText(attribute) << " not sutable for time/id." << std::endl;
            return -1;
        }
        if (wantDims < 0) {
            wantDims = info.nDims;
            wantType = info.type;
        }
        if (info.nDims != wantDims || info.type != wantType) {
            if (report) {
                if (latLon)
                    PD_LOG(PROBLEM) << "latitude,longitude variables must have one "
                                    << "dimension and be float" << std::endl;
                else
                    PD_LOG(PROBLEM)
                        << "Variable " << LogText(name) << " listed in " << LogText(attribute)
                        << " not compatible with others." << std::endl;
            }
            return -1;
        }
        ids.append(id);
        if (info.nDims == 2) {
            long length = io.dimLength(info.dims[1]);
            lengths.append(static_cast<int>(length));
            total += static_cast<int>(length);
        }
    }
    if (isLatLonVars)
        _latLonNames = names[0] + "," + names[1];
    return static_cast<int>(names.size());
}

PointFileStructure* NetcdfPointData::analyzeStructure(int ncid, PointNetcdfFileInfo* info)
{
    NetcdfIo io(ncid);
    bookkeepingNames();

    // The layout stamp is optional: read it quietly.
    reportMissing = false;
    TextString cdlDate;
    if (getTextAttribute(ncid, "cdlDate", cdlDate) < 0) {
        StoreClock::pause(1);
        io.sync();
        if (getTextAttribute(ncid, "cdlDate", cdlDate) < 0)
            cdlDate = "";
    }
    reportMissing = true;

    PointFileStructure* shared = nullptr;
    if (_structures.find(cdlDate, nullptr, &shared)) {
        if (info && !readCounters(ncid, shared, info))
            return nullptr;
        return shared;
    }
    PointFileStructure* s = buildStructure(ncid, info);
    if (s) {
        s->cdlDate = cdlDate;
        _structures.insert(cdlDate, s);
    }
    return s;
}

PointFileStructure* NetcdfPointData::buildStructure(int ncid, PointNetcdfFileInfo* info)
{
    SwitchRestorer restoreSwitch;
    NetcdfIo io(ncid);
    std::unique_ptr<PointFileStructure> s(new PointFileStructure());

    reportMissing = true;
    int nDims = 0, nVars = 0, nAtts = 0, recordDim = -1;
    if (!io.inquire(nDims, nVars, nAtts, recordDim) || recordDim < 0) {
        PD_LOG(PROBLEM) << "Could not get id of record dimension" << std::endl;
        return nullptr;
    }
    s->recordDim = recordDim;

    // Positions.
    reportMissing = false;
    _latLonNames = "latitude,longitude";
    SeqOf<int> listIds, listLengths;
    int listTotal = 0;
    if (getVariableList(ncid, "latLonVars", listIds, listTotal, listLengths) >= 0 &&
        listIds.length() == 2) {
        s->latitude = listIds[0];
        s->longitude = listIds[1];
    }

    // The static id table.
    int maxStaticIds = getDimSize(ncid, "maxStaticIds");
    if (maxStaticIds <= 0) {
        if (s->latitude < 0) {
            PD_LOG(PROBLEM) << "Missing maxStaticIds dimension incompatible "
                            << " with no lat/lon data" << std::endl;
            return nullptr;
        }
        PD_LOG(EVENT) << "No maxStaticIds dimension means no record mapping" << std::endl;
        maxStaticIds = 0;
        _noRecordMapping = true;
    }
    s->maxStaticIds = maxStaticIds;

    s->prevRecord = getVarId(ncid, "prevRecord");
    if (_staticFile && s->prevRecord >= 0)
        s->prevRecord = -999;
    if (s->prevRecord < 0 && io.hasGlobalAttribute("prevRecord"))
        s->prevRecord = -999;

    TextString text;
    if (getTextAttribute(ncid, "cache_metadata", text) >= 0 && text == "false")
        s->cacheMetadata = false;

    reportMissing = maxStaticIds > 0;
    int totalIdLen = getDimSize(ncid, "totalIdLen");
    if (totalIdLen < 0) {
        if (maxStaticIds > 0)
            return nullptr;
        totalIdLen = s->prevRecord != -1 ? -1 : 0;
    }

    reportMissing = maxStaticIds > 0 && !_staticFile;
    int nBins = 1;
    if (!_staticFile) {
        nBins = getDimSize(ncid, "nInventoryBins");
        if (nBins < 0) {
            if (maxStaticIds > 0)
                return nullptr;
            nBins = 1;
        }
    }
    if (nBins < 1) {
        PD_LOG(PROBLEM) << "Number of inventory bins " << nBins << " is out of range"
                        << std::endl;
        return nullptr;
    }
    s->nInventoryBins = nBins;

    // Station ids.
    reportMissing = maxStaticIds > 0 || s->latitude < 0;
    SeqOf<int> idIds, idLengths;
    int idTotal = -1;
    if (getVariableList(ncid, "idVariables", idIds, idTotal, idLengths) < 0 && reportMissing)
        return nullptr;
    if (idTotal < 0) {
        s->latLonIds = true;
        if (totalIdLen < 7) {
            if (maxStaticIds > 0) {
                PD_LOG(PROBLEM) << "totalIdLen dimension must be at least 7 for "
                                << "lat/lon ids" << std::endl;
                return nullptr;
            }
            totalIdLen = 0;
        }
    } else if (idTotal == 0) {
        PD_LOG(PROBLEM) << "No useable variables in idVariables attribute" << std::endl;
        return nullptr;
    } else {
        if (maxStaticIds == 0 && totalIdLen != 0 && totalIdLen < idTotal)
            totalIdLen = idTotal + 1;
        if (maxStaticIds > 0 && totalIdLen < idTotal) {
            PD_LOG(PROBLEM) << "totalIdLen dimension too small for id data" << std::endl;
            return nullptr;
        }
        if (!checkShape(io, idIds[0], recordDim, NC_CHAR, {-1, 1}))
            return nullptr;
    }
    s->totalIdLen = totalIdLen;
    s->idVariables = idIds;
    s->idLengths = idLengths;

    // Time variables.
    reportMissing = false;
    SeqOf<int> timeIds, timeLengths;
    int timeTotal = -1;
    getVariableList(ncid, "timeVariables", timeIds, timeTotal, timeLengths);
    if (timeTotal == -1 && !_staticFile) {
        int candidate = -1;
        int candidates = 0;
        for (int v = 0; v < nVars; ++v) {
            NetcdfIo::VarInfo vi;
            if (!io.varInfo(v, vi) || vi.type != NC_DOUBLE || vi.nDims != 1 ||
                vi.dims[0] != recordDim || isBookkeepingName(vi.name))
                continue;
            if (strstr(vi.name.c_str(), "tim") || strstr(vi.name.c_str(), "Tim") ||
                strstr(vi.name.c_str(), "TIM")) {
                candidate = v;
                ++candidates;
            }
        }
        if (candidates == 1) {
            timeIds.append(candidate);
            PD_LOG(EVENT) << "Time variable defaults to " << LogText(variableName(io, candidate))
                          << std::endl;
        }
    }
    if (!_staticFile && timeIds.length() == 0) {
        if (nBins >= 2 || s->prevRecord != -1) {
            PD_LOG(PROBLEM) << "No time variables identified" << std::endl;
            return nullptr;
        }
        PD_LOG(EVENT) << "No time variables found, will just use "
                      << "file time stamp for time of data" << std::endl;
    }
    if (timeTotal > 0) {
        PD_LOG(PROBLEM) << "Time variables should have only record dimension" << std::endl;
        return nullptr;
    }
    if (_staticFile && timeIds.length() > 0) {
        PD_LOG(EVENT) << "Static data with time variables not meaningful" << std::endl;
        timeIds.setLength(0);
    }
    for (int k = 0; k < timeIds.length(); ++k) {
        if (!checkShape(io, timeIds[k], recordDim, NC_DOUBLE, {-1}))
            return nullptr;
    }
    s->timeVariables = timeIds;
    const int nTimes = timeIds.length();

    // Forecasts.
    reportMissing = false;
    if (getTextAttribute(ncid, "have_forecasts", text) >= 0) {
        if (_staticFile) {
            PD_LOG(EVENT) << "Static data with forecast time not meaningful" << std::endl;
        } else if (text == "true") {
            if (nTimes < 2) {
                PD_LOG(PROBLEM) << "File with record based forecast times must "
                                << "have at least two time variables, for the "
                                << "reference and valid times, respectively" << std::endl;
                return nullptr;
            }
            s->recordForecasts = true;
            _forecasts = true;
        } else {
            int dim = io.dimId(text.c_str());
            if (dim >= 1) {
                long n = io.dimLength(dim);
                TextString listText;
                SeqOf<int> forecasts;
                if (getTextAttribute(ncid, "forecast_list", listText) >= 0) {
                    for (const TextString& field : splitList(listText, MAX_FORECASTS)) {
                        int f = 0;
                        if (!readDecimal(field, f) || f < 0)
                            break;
                        forecasts.append(f);
                    }
                }
                if (forecasts.length() != n) {
                    PD_LOG(PROBLEM) << "If have_forecasts names a dimension then"
                                    << " the forecast_list attribute must contain"
                                    << " that many comma delimited integers that are"
                                    << " forecast times represented by that dimension"
                                    << std::endl;
                    return nullptr;
                }
                s->forecastDim = dim;
                s->forecastList = forecasts;
                _forecasts = true;
            }
        }
    }

    if (nTimes > 0 && maxStaticIds >= 1 && s->prevRecord < 0) {
        PD_LOG(PROBLEM) << "If there are static tables and time varying "
                        << "data, the prevRecord variable must exist" << std::endl;
        return nullptr;
    }
    if (maxStaticIds >= 1 && nTimes == 0 && s->prevRecord == -1)
        s->prevRecord = -999;
    if (s->prevRecord >= 0 && !checkShape(io, s->prevRecord, recordDim, NC_INT, {-1}))
        return nullptr;

    // File period, end offset and bins.
    const bool timed = !_staticFile && nTimes > 0;
    reportMissing = timed;
    int filePeriod = 0;
    int periodStatus = getIntAttribute(ncid, "filePeriod", filePeriod);
    if (periodStatus < 0) {
        if (timed)
            return nullptr;
        filePeriod = 0;
    }
    if (!_staticFile && !(s->recordForecasts && periodStatus >= 0 && filePeriod >= 0)) {
        if (nTimes > 0) {
            if (filePeriod < 60 || filePeriod > 86400) {
                PD_LOG(PROBLEM) << "File period of " << filePeriod << " is out of range"
                                << std::endl;
                return nullptr;
            }
        } else if (periodStatus >= 0) {
            PD_LOG(PROBLEM) << "Having no time variable inconsistent with "
                            << "defining the file period" << std::endl;
            return nullptr;
        } else {
            filePeriod = 60;
        }
    }
    int fileEndOffset = 0;
    int endStatus = getIntAttribute(ncid, "fileEndOffset", fileEndOffset);
    if (endStatus < 0 && timed)
        return nullptr;
    if (s->recordForecasts) {
        if (fileEndOffset < filePeriod) {
            PD_LOG(PROBLEM) << "File end offset of " << fileEndOffset << " is out of range"
                            << std::endl;
            return nullptr;
        }
        s->startOffset = fileEndOffset - filePeriod;
        s->binWidth = nBins < 2 ? 3600 : filePeriod / (nBins - 1);
        filePeriod = s->binWidth;
        if (_reReadMask == 0 && filePeriod > 0)
            _filePeriod = filePeriod;
    } else if (_staticFile || (nTimes == 0 && endStatus < 0)) {
        s->startOffset = -30;
        fileEndOffset = 30;
        s->binWidth = 60;
    } else if (nTimes == 0) {
        PD_LOG(PROBLEM) << "Having no time variable inconsistent with "
                        << "defining the file end offset" << std::endl;
        return nullptr;
    } else {
        if (fileEndOffset < 0 || fileEndOffset >= filePeriod) {
            PD_LOG(PROBLEM) << "File end offset of " << fileEndOffset << " is out of range"
                            << std::endl;
            return nullptr;
        }
        if (_reReadMask == 0)
            _filePeriod = filePeriod;
        s->startOffset = fileEndOffset - filePeriod + 1;
        s->binWidth = filePeriod / nBins;
    }
    if (s->binWidth < 1) {
        PD_LOG(PROBLEM) << "Inventory bin width of " << s->binWidth << " seconds is out of range"
                        << std::endl;
        return nullptr;
    }
    s->filePeriod = filePeriod;
    s->fileEndOffset = fileEndOffset;

    // The static id table's variables.
    if (maxStaticIds >= 1) {
        reportMissing = true;
        s->nStaticIds = getVarId(ncid, "nStaticIds");
        s->staticIds = getVarId(ncid, "staticIds");
        s->lastRecord = getVarId(ncid, "lastRecord");
        s->firstOverflow = getVarId(ncid, "firstOverflow");
        s->isOverflow = getVarId(ncid, "isOverflow");
        reportMissing = nBins > 1;
        s->inventory = getVarId(ncid, "inventory");
        if (s->nStaticIds < 0 || s->staticIds < 0 || s->lastRecord < 0 ||
            s->firstOverflow < 0 || s->isOverflow < 0 || (nBins > 1 && s->inventory < 0))
            return nullptr;
        if (!checkShape(io, s->nStaticIds, recordDim, NC_INT, {}) ||
            !checkShape(io, s->staticIds, recordDim, NC_CHAR, {maxStaticIds, totalIdLen}) ||
            !checkShape(io, s->lastRecord, recordDim, NC_INT, {maxStaticIds}) ||
            !checkShape(io, s->firstOverflow, recordDim, NC_INT, {}) ||
            !checkShape(io, s->isOverflow, recordDim, NC_INT, {-1}))
            return nullptr;
    }

    if (nTimes > 0) {
        reportMissing = nTimes >= 2;
        s->invTime = getVarId(ncid, "invTime");
        if (s->invTime < 0 && nTimes >= 2)
            return nullptr;
        if (s->invTime >= 0) {
            nc_type type = io.varType(s->invTime);
            if (!checkShape(io, s->invTime, recordDim, type == NC_DOUBLE ? NC_DOUBLE : NC_INT,
                            {-1}))
                return nullptr;
        }
    }

    reportMissing = false;
    s->logRewrites = getTextAttribute(ncid, "log_rewrites", text) >= 0 && text == "true";
    int maxOpen = 2;
    if (getIntAttribute(ncid, "max_open", maxOpen) < 0)
        maxOpen = 2;
    s->maxOpen = maxOpen < 1 ? 1 : maxOpen > 30 ? 30 : maxOpen;

    // Inventories.
    reportMissing = true;
    if (nBins > 1) {
        s->globalInventory = getVarId(ncid, "globalInventory");
        s->firstInBin = getVarId(ncid, "firstInBin");
        s->lastInBin = getVarId(ncid, "lastInBin");
        if (s->globalInventory < 0 || s->firstInBin < 0 || s->lastInBin < 0)
            return nullptr;
        NetcdfIo::VarInfo gi;
        bool inquired = io.varInfo(s->globalInventory, gi);
        if (inquired && gi.type == NC_INT) {
            if (nBins > 32) {
                PD_LOG(PROBLEM) << "Inventory variables need to be chars when the "
                                << "number of bins is more than 32" << std::endl;
                return nullptr;
            }
            if (!checkShape(io, s->globalInventory, recordDim, NC_INT, {}))
                return nullptr;
        } else if (inquired && gi.type == NC_CHAR) {
            s->charInventories = true;
            if (!checkShape(io, s->globalInventory, recordDim, NC_CHAR, {nBins}))
                return nullptr;
        } else {
            PD_LOG(PROBLEM) << "Bad variable characteristics for variable "
                            << "globalInventory" << std::endl;
            return nullptr;
        }
        if (!checkShape(io, s->firstInBin, recordDim, NC_INT, {nBins}) ||
            !checkShape(io, s->lastInBin, recordDim, NC_INT, {nBins}))
            return nullptr;
        if (s->inventory >= 0) {
            bool ok = s->charInventories
                          ? checkShape(io, s->inventory, recordDim, NC_CHAR, {maxStaticIds, nBins})
                          : checkShape(io, s->inventory, recordDim, NC_INT, {maxStaticIds});
            if (!ok)
                return nullptr;
        }
    }

    if (info && !readCounters(ncid, s.get(), info))
        return nullptr;

    // The table of data variables.
    std::vector<long> dimLengths(static_cast<size_t>(nDims > 0 ? nDims : 0));
    for (int d = 0; d < nDims; ++d)
        dimLengths[static_cast<size_t>(d)] = io.dimLength(d);
    for (int v = 0; v < nVars; ++v) {
        NetcdfIo::VarInfo vi;
        if (!io.varInfo(v, vi) || (vi.nDims > 0 && vi.dims[0] != recordDim) ||
            isBookkeepingName(vi.name))
            continue;
        SeqOf<int> entry(v);
        bool usable = true;
        for (int k = 1; k < vi.nDims && usable; ++k) {
            int d = vi.dims[k];
            usable = d >= 0 && d < nDims && dimLengths[static_cast<size_t>(d)] >= 0;
            if (usable)
                entry.append(d == s->forecastDim ? -999
                                                 : static_cast<int>(dimLengths[static_cast<size_t>(d)]));
        }
        if (!usable)
            continue;
        if (vi.nDims == 0)
            entry.append(0);
        entry.append(static_cast<int>(vi.type));
        s->variables.insert(vi.name, entry);
    }
    if (s->latitude >= 0 && s->longitude >= 0) {
        TextString latName = variableName(io, s->latitude);
        TextString lonName = variableName(io, s->longitude);
        if (latName != "latitude" || lonName != "longitude") {
            SeqOf<int> lat(s->latitude);
            lat.append(NC_FLOAT);
            SeqOf<int> lon(s->longitude);
            lon.append(NC_FLOAT);
            s->variables.insert("latitude", lat);
            s->variables.insert("longitude", lon);
        }
    }

    s->useCount = 0;
    return s.release();
}

bool NetcdfPointData::readCounters(int ncid, const PointFileStructure* s,
                                   PointNetcdfFileInfo* info)
{
    NetcdfIo io(ncid);
    long records = io.recordCount();
    if (records < 0 || records > INT_MAX) {
        PD_LOG(PROBLEM) << "unable to read record dimension" << std::endl;
        return false;
    }
    const int n = static_cast<int>(records);
    info->recordCount = n;
    if (info->readLevel < 1)
        info->readLevel = 1;

    // A file without records holds no station and no inventory, whatever its
    // template left in the counters.
    if (s->nInventoryBins > 1) {
        if (s->charInventories) {
            if (!info->charGlobalInventory)
                info->charGlobalInventory.reset(new char[static_cast<size_t>(s->nInventoryBins)]());
            if (n == 0) {
                memset(info->charGlobalInventory.get(), 0, static_cast<size_t>(s->nInventoryBins));
            } else if (!io.get(s->globalInventory, NcPos{0}, NcPos{s->nInventoryBins},
                               info->charGlobalInventory.get())) {
                PD_LOG(PROBLEM) << "unable to read global inventory" << std::endl;
                return false;
            }
        } else if (n == 0) {
            info->globalInventory = 0;
        } else if (!io.get1(s->globalInventory, NcPos{}, info->globalInventory)) {
            PD_LOG(PROBLEM) << "unable to read global inventory" << std::endl;
            return false;
        }
    }
    if (s->maxStaticIds > 0) {
        int nStaticIds = 0;
        int firstOverflow = -1;
        if (!io.get1(s->nStaticIds, NcPos{}, nStaticIds)) {
            PD_LOG(PROBLEM) << "unable to read nStaticIds" << std::endl;
            return false;
        }
        if (!io.get1(s->firstOverflow, NcPos{}, firstOverflow)) {
            PD_LOG(PROBLEM) << "unable to read firstOverflow" << std::endl;
            return false;
        }
        if (n == 0) {
            nStaticIds = 0;
            firstOverflow = -1;
        }
        // Counters past the records of a writable store's file were written
        // after the header the disk holds: mended from the records.
        const bool past = nStaticIds > n || (firstOverflow >= s->maxStaticIds && firstOverflow >= n);
        if (past && _writable && !_staticFile && nStaticIds >= 0 &&
            nStaticIds <= s->maxStaticIds) {
            if (!_remaking)
                logStaleBookkeeping(info, "counters of", "name", n,
                                    "nStaticIds of " + std::to_string(nStaticIds) +
                                        ", firstOverflow of " + std::to_string(firstOverflow) +
                                        ": ");
            info->bookkeepingStale = true;
            nStaticIds = std::min(nStaticIds, n);
            firstOverflow = -1;
        }
        if (nStaticIds < 0 || nStaticIds > s->maxStaticIds || nStaticIds > n) {
            PD_LOG(PROBLEM) << "nStaticIds of " << nStaticIds << " is out of range in "
                            << info->path << std::endl;
            return false;
        }
        if (firstOverflow >= s->maxStaticIds && firstOverflow >= n) {
            PD_LOG(PROBLEM) << "firstOverflow of " << firstOverflow << " is out of range in "
                            << info->path << std::endl;
            return false;
        }
        info->nStaticIds = nStaticIds;
        info->firstOverflow = firstOverflow;
    }
    return true;
}
