// The decoder of scatterometer winds (data type key quikscat): built like
// HDWBufrDecoder, with its own directories ($QEV_DATA/ispan/bufr/QuikScat,
// $QEV_DATA/ispan/badQuikScatBufr), store ($QEV_DATA/point/QuikScat/netcdf),
// pattern file "quikscatBufrPattern.txt", product key 10008 and storing
// (StoreQuikScatWinds).  It shares no state with the high-density wind
// decoder.  It stores messages of data category 12 or 24 (or of a category
// outside WMO's table A); a message of another category sets its bulletin
// aside (windKinds), as one whose cells give no wind or position does
// (StoreQuikScatWinds).  Lines are logged under the source name
// "QuikScatBufrDecoder".
#ifndef QUIKSCATBUFRDECODER_H
#define QUIKSCATBUFRDECODER_H

#include "SatelliteWindDecoder.h"
#include "StoreQuikScatWinds.h"

class QuikScatBufrDecoder : public SatelliteWindDecoder {
public:
    static Record quikScatRecord();
    static WindType quikScatType();

    QuikScatBufrDecoder();
    ~QuikScatBufrDecoder() override;

    int write2NetcdfFile() override { return _storing.write2NetcdfFile(); }
    StoreQuikScatWinds& storing() { return _storing; }

    // The two rain flags of a wind vector cell quality word w: usable when
    // w is not negative (a missing word arrives as -99999), raining when
    // usable and w >> 13 is 1 (8192 to 16383).
    void splitRainFlag(int w);
    bool rainFlagUsable() const { return _rainFlagUsable; }
    bool rainFlag() const { return _rainFlag; }

private:
    StoreQuikScatWinds _storing;
    bool _rainFlagUsable = false;
    bool _rainFlag = false;
};

#endif
