// The POES decoder's storing side: its three profiles and the level test of
// a value's neighbours.  The storing walk itself is the shared one
// (SatelliteSoundingDecoderStore.cpp).
#include "POESBufrDecoder.h"

#include "BufrValues.h"

namespace {

const int VERTICAL_SIGNIFICANCE = 8003;    // 0 08 003, satellite observations

} // namespace

int POESBufrDecoder::profiles(Profile* out)
{
    out[0] = {"PRESSURE", " _press[", &_press, &_pressIndex, &_pressProfiles, true};
    out[1] = {"TEMPERATURE", "  _temp[", &_temp, &_tempIndex, &_tempProfiles, true};
    out[2] = {"MIXINGRATIO", "   _w[", &_w, &_wIndex, &_wProfiles, false};
    return 3;
}

bool POESBufrDecoder::levelValue(int index, bool report) const
{
    const BufrValues* before = neighbour(index, -1, report, "StorePOES_Sounding");
    if (!before)
        return false;
    const BufrValues* after = neighbour(index, 1, report, "StorePOES_Sounding");
    if (!after)
        return false;
    return before->getDescriptor() != VERTICAL_SIGNIFICANCE &&
           after->getDescriptor() != VERTICAL_SIGNIFICANCE;
}
