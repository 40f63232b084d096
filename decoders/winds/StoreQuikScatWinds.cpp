#include "StoreQuikScatWinds.h"

#include "ElementUnits.h"
#include "LogStream.h"
#include "LogText.h"
#include "QuikScatBufrDecoder.h"

#include <cmath>

#define QS_LOG(category) QEV_LOG(LogStream::category, source())

namespace {

const int CELL_QUALITY = 21109;
const int SATELLITE_ID = 1007;
const int ORBIT_NUMBER = 5040;

// A decoded value as an integer, truncated toward zero.
int truncated(float value)
{
    if (!std::isfinite(value) || value <= -2147483648.0f || value >= 2147483647.0f)
        return -99999;
    return static_cast<int>(value);
}

} // namespace

StoreQuikScatWinds::StoreQuikScatWinds(QuikScatBufrDecoder& decoder)
    : StoreHighDensityWinds(decoder, quikScatLayout()), _quikScat(decoder)
{
}

void StoreQuikScatWinds::siteRecordPlaced(int ncid, int record, int valueIndex)
{
    storeOrbitAndSatId(ncid, record, valueIndex);
}

bool StoreQuikScatWinds::cellValue(int index, int descriptor, const char* what,
                                   int& value) const
{
    const int at = reader().nearest(reader().scopeOf(index), descriptor);
    if (at == ReportReader::NONE) {
        if (_decoder.bulletinLog().admit(source(), "The identifier of the ob"))
            QS_LOG(PROBLEM) << "The " << what << " (" << BulletinLog::descriptorText(descriptor)
                            << ") of the ob at value " << index << " is not in its report."
                            << std::endl;
        return false;
    }
    value = truncated(_decoder.decodedValues()[at].getValue());
    return true;
}

void StoreQuikScatWinds::storeOrbitAndSatId(int ncid, int record, int index)
{
    int value = 0;
    if (cellValue(index, SATELLITE_ID, "satellite identifier", value)) {
        _satID = value;
        storeIdentifier(ncid, record, "satIDDescriptor", SATELLITE_ID, value);
    }
    if (cellValue(index, ORBIT_NUMBER, "orbit number", value)) {
        _orbitNo = value;
        storeIdentifier(ncid, record, "orbitNoDescriptor", ORBIT_NUMBER, value);
    }
}

void StoreQuikScatWinds::storeIdentifier(int ncid, int record, const char* label,
                                         int descriptor, int value)
{
    TextString name;
    const bool found = lookupVariable(descriptor, name);
    if (debugOn())
        QS_LOG(DEBUG) << label << " (" << descriptor << ")= <" << name << "> <" << value << ">"
                      << std::endl;
    if (!found)
        return;
    if (insertDecodedValues(ncid, name, TextString(), static_cast<float>(value), record)) {
        if (debugOn())
            QS_LOG(DEBUG) << "Successful singleton store of " << name << std::endl;
    } else if (_decoder.bulletinLog().admit(source(), "Unable to store singleton value")) {
        QS_LOG(PROBLEM) << "Unable to store singleton value for " << name << std::endl;
    }
}

bool StoreQuikScatWinds::storeSingleton(int ncid, int record, int index)
{
    const BufrValues& v = _decoder.decodedValues()[index];
    const int d = v.getDescriptor();
    // Written with the cell's record (storeOrbitAndSatId).
    if (d == SATELLITE_ID || d == ORBIT_NUMBER)
        return true;
    TextString name;
    const bool found = lookupVariable(d, name);
    if (debugOn())
        QS_LOG(DEBUG) << "subset: " << v.getSubset() << ", dvDescriptor (" << d << ")= <" << name
                      << "> <" << v.getValue() << ">" << std::endl;
    const TextString token = v.getCharValue();
    if (!found)
        return token.length() > 0;
    if (debugOn())
        QS_LOG(DEBUG) << "subset: " << v.getSubset() << ", dvDescriptor (" << d << ")= <" << name
                      << "> <" << LogText(token) << ">" << std::endl;
    if (token.length() == 0 && d == CELL_QUALITY) {
        storeRainFlags(ncid, record, index);
        return true;
    }
    double value = v.getValue();
    if (token.length() == 0 &&
        !ElementUnits::toVariable(d, value, writer(ncid), name, _decoder.bulletinLog(), source(),
                                  &refusal()))
        return true;
    if (insertDecodedValues(ncid, name, token, static_cast<float>(value), record)) {
        if (debugOn())
            QS_LOG(DEBUG) << "Successful singleton store of " << name << std::endl;
    } else if (_decoder.bulletinLog().admit(source(), "Unable to store singleton value")) {
        QS_LOG(PROBLEM) << "Unable to store singleton value for " << name << std::endl;
    }
    return true;
}

void StoreQuikScatWinds::storeRainFlags(int ncid, int record, int index)
{
    _quikScat.splitRainFlag(truncated(_decoder.decodedValues()[index].getValue()));
    const bool usable = _quikScat.rainFlagUsable();
    const bool raining = _quikScat.rainFlag();
    if (debugOn())
        QS_LOG(DEBUG) << "Rainflags: _rainFlagUsable = " << usable << ", _rainFlag = " << raining
                      << std::endl;
    const struct {
        const char* name;
        bool flag;
    } writes[] = {{"_rainFlagUsable", usable}, {"_rainFlag", raining}};
    // The rain flag itself goes in only over a word that is not usable, so
    // that "rainIndex" ends as the usability of the word.
    for (int k = 0; k < (usable ? 1 : 2); ++k) {
        if (insertDecodedValues(ncid, "rainIndex", TextString(), writes[k].flag ? 1.0f : 0.0f,
                                record)) {
            if (debugOn())
                QS_LOG(DEBUG) << "Successful singleton store of " << writes[k].name << std::endl;
        } else if (_decoder.bulletinLog().admit(source(), "Unable to store singleton value")) {
            QS_LOG(PROBLEM) << "Unable to store singleton value for " << " " << writes[k].name
                            << std::endl;
        }
    }
}

void StoreQuikScatWinds::valueRefused(int index, const LatLonCoord& location)
{
    const BufrValues& v = _decoder.decodedValues()[index];
    TextString name;
    if (!lookupVariable(v.getDescriptor(), name))
        name = "\"\"";
    QS_LOG(VERBOSE) << "Unable to map netcdf file to descriptor " << v.getDescriptor() << "("
                    << name << ")"
                    << ", decoded value=[" << v.getValue() << "] for " << location.lat << ", "
                    << location.lon << " is undefined in the cdl." << std::endl;
}
