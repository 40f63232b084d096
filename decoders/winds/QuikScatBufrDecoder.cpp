#include "QuikScatBufrDecoder.h"

BufrFileDecoder::Record QuikScatBufrDecoder::quikScatRecord()
{
    return windRecord("QuikScatBufrDecoder", "/ispan/bufr/QuikScat", "/ispan/badQuikScatBufr",
                      " is not a QuikScat BUFR file.", " QuikScatBufrData.......");
}

SatelliteWindDecoder::WindType QuikScatBufrDecoder::quikScatType()
{
    return {"QuikScatBufrDecoder",
            "Quik Scat Winds",
            "quikscatBufrPattern.txt",
            "/point/QuikScat/netcdf",
            10008,
            {"scatterometer winds",
             {12, 24},
             {{nullptr, 0, ElementForms::NO_QUANTITY}, {nullptr, 0, ElementForms::NO_QUANTITY}}}};
}

QuikScatBufrDecoder::QuikScatBufrDecoder()
    : SatelliteWindDecoder(quikScatRecord(), quikScatType()), _storing(*this)
{
    if (init())
        processBufrDirectory();
}

QuikScatBufrDecoder::~QuikScatBufrDecoder() {}

void QuikScatBufrDecoder::splitRainFlag(int w)
{
    _rainFlagUsable = w >= 0;
    _rainFlag = _rainFlagUsable && (w >> 13) == 1;
}
