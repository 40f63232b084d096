#include "HDWBufrDecoder.h"

BufrFileDecoder::Record HDWBufrDecoder::hdwRecord()
{
    return windRecord("HDWBufrDecoder", "/ispan/bufr/CSW", "/ispan/badCSWBufr",
                      " is not a HDW BUFR file.", " HDWBufrData.......");
}

SatelliteWindDecoder::WindType HDWBufrDecoder::hdwType()
{
    return {"HDWBufrDecoder",
            "High Density Winds",
            "CSWBufrPattern.txt",
            "/point/CSW/netcdf",
            10007,
            {"satellite winds",
             {5, -1},
             {{"satellite identifier", 1007, ElementForms::NO_QUANTITY},
              {"pressure", 0, ElementForms::PRESSURE}}}};
}

HDWBufrDecoder::HDWBufrDecoder() : SatelliteWindDecoder(hdwRecord(), hdwType()), _storing(*this)
{
    if (init())
        processBufrDirectory();
}

HDWBufrDecoder::~HDWBufrDecoder() {}
