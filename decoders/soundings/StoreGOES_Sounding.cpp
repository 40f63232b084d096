// The GOES decoder's storing side: its four profiles and the level test of
// a value's predecessor.  The storing walk itself is the shared one
// (SatelliteSoundingDecoderStore.cpp).
#include "GOESBufrDecoder.h"

#include "BufrValues.h"

namespace {

const int VERTICAL_SIGNIFICANCE = 8003;    // 0 08 003, satellite observations
const int SOUNDING_PARAMETERS = 2054;      // 0 02 054

} // namespace

int GOESBufrDecoder::profiles(Profile* out)
{
    out[0] = {"PRESSURE", " _press[", &_press, &_pressIndex, &_pressProfiles, false};
    out[1] = {"TEMPERATURE", "  _temp[", &_temp, &_tempIndex, &_tempProfiles, true};
    out[2] = {"DEWPOINT", "  _td[", &_td, &_tdIndex, &_tdProfiles, true};
    out[3] = {"HEIGHT", "  _z[", &_z, &_zIndex, &_zProfiles, false};
    return 4;
}

bool GOESBufrDecoder::levelValue(int index, bool report) const
{
    const BufrValues* before = neighbour(index, -1, report, "StoreGOES_Sounding");
    if (!before)
        return false;
    return before->getDescriptor() != VERTICAL_SIGNIFICANCE &&
           before->getDescriptor() != SOUNDING_PARAMETERS;
}
