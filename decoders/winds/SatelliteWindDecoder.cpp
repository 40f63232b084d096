#include "SatelliteWindDecoder.h"

#include "LogStream.h"
#include "NetcdfPointData.h"
#include "TimeRange.h"
#include "dmNotify.h"
#include "windTimeGroups.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* const TIME_FORMAT = "%h %d %y %T GMT";
const int YEAR = 4001;

} // namespace

BufrFileDecoder::Record SatelliteWindDecoder::windRecord(const char* sourceName,
                                                         const char* ingestPath,
                                                         const char* badPath,
                                                         const char* rejectionText,
                                                         const char* readingTrace)
{
    Record r;
    r.sourceName = sourceName;
    r.ingestPath = ingestPath;
    r.badPath = badPath;
    r.statFailureText = " fstat failure on file ";
    r.rejectionText = rejectionText;
    r.readingTrace = readingTrace;
    r.storedText = "MXR_STOREd to netcdf file: ";
    r.failedWriteReason = "Unable to MXR_STORE netcdf data.";
    r.patternFetch = PATTERN_PER_PASS;
    r.pauseMicroseconds = 300000;
    return r;
}

SatelliteWindDecoder::SatelliteWindDecoder(const Record& record, const WindType& type)
    : BufrFileDecoder(record), _type(type)
{
}

SatelliteWindDecoder::~SatelliteWindDecoder() {}

TextString SatelliteWindDecoder::getPatternFileName() const
{
    return _type.patternFile;
}

bool SatelliteWindDecoder::init()
{
    _dataTypeName = _type.dataTypeName;
    _timeout = 36000;
    _storeDir = TextString(std::getenv("QEV_DATA")) + _type.storePath;
    _pointData = NetcdfPointData::getNetcdfPointData(_storeDir, true, false);
    _descriptorDict = readTemplateDict(_storeDir + "/template", "tblBname");
    return true;
}

NetcdfPointData* SatelliteWindDecoder::pointData()
{
    if (NetcdfPointData::fetchAgain(_pointData, _storeDir))
        _descriptorDict = readTemplateDict(_storeDir + "/template", "tblBname");
    return _pointData;
}

SeqOf<double> SatelliteWindDecoder::getObservationTimes(const ReportReader& reader,
                                                       SeqOf<LatLonCoord>& locations,
                                                       TextString& refusal)
{
    static const TextString marked("DTG");
    SeqOf<double> times;
    SeqOf<int> kept;
    SeqOf<LatLonCoord> keptLocations;
    const SeqOf<BufrValues>& values = _decodedValues;
    const SeqOf<int> indices = _locationIndices;
    for (int i = 0; i < indices.length() && i < locations.length(); ++i) {
        const int e = indices[i];
        const int year = reader.nearest(reader.scopeOf(e), YEAR);
        AbsTime t;
        const TimeGroupStatus status = year == ReportReader::NONE
                                           ? TIME_GROUP_OUTSIDE
                                           : readTimeGroup(values, year, values[e].getSubset(), t);
        if (status != TIME_GROUP_OK) {
            if (_bulletinLog.admit(_type.decoderSource, "The time group of the ob at value"))
                QEV_LOG(LogStream::PROBLEM, _type.decoderSource)
                    << "The time group of the ob at value " << e << " "
                    << timeGroupProblem(status) << ".  Skipping to next observation."
                    << std::endl;
            // A wind at a time the store cannot hold keeps its bulletin.
            if (unheldTime(status) && refusal.length() == 0)
                refusal = ("The time group of the ob at value " + std::to_string(e) + " " +
                           timeGroupProblem(status) + ".")
                              .c_str();
            continue;
        }
        _decodedValues[year].setCharValue(marked);
        times.append(static_cast<double>(roundToMinute(t).seconds()));
        kept.append(e);
        keptLocations.append(locations[i]);
    }
    if (kept.length() != indices.length()) {
        _locationIndices = kept;
        locations = keptLocations;
    }
    return times;
}

void SatelliteWindDecoder::setDataTime(int t)
{
    const AbsTime at(t);
    _dataTime = DataTime(at, 0, TimeRange(at, at), at, 0, 0x300);
}

TextString SatelliteWindDecoder::bulletinIdentity() const
{
    // FNV-1a over each value's subset, descriptor, value and text.
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](const void* data, size_t n) {
        for (size_t i = 0; i < n; ++i)
            hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    };
    for (int i = 0; i < _decodedValues.length(); ++i) {
        const BufrValues& v = _decodedValues[i];
        const int fields[] = {v.getSubset(), v.getDescriptor()};
        const float value = v.getValue();
        const TextString text = v.getCharValue();
        mix(fields, sizeof fields);
        mix(&value, sizeof value);
        mix(text.c_str(), static_cast<size_t>(text.length()) + 1);
    }
    // The file name is left out: a bulletin requeued from the bad-file
    // directory under a suffixed name, or delivered again under another
    // name, is the same bulletin and must not be stored twice.
    char identity[48];
    std::snprintf(identity, sizeof identity, "%d %016llx", _decodedValues.length(),
                  static_cast<unsigned long long>(hash));
    return identity;
}

bool SatelliteWindDecoder::sendNotification()
{
    const DataAccessKey key = _type.productKey;
    const TextString when = _dataTime.refTime().toString(TIME_FORMAT);
    if (!dmNotify(key, _dataTime)) {
        if (!dmNotifyFailureLogged())
            QEV_LOG(LogStream::PROBLEM, _type.decoderSource)
                << "dmNotify FAILED for key = " << key << " and dataTime " << when << std::endl;
        return false;
    }
    QEV_LOG(LogStream::VERBOSE, _type.decoderSource)
        << "Sent notification for key " << key << " and dataTime " << when << std::endl;
    return true;
}
