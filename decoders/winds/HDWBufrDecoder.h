// The decoder of high-density satellite cloud-drift winds (data type key
// csw): the BUFR files of $QEV_DATA/ispan/bufr/CSW into the point-data store
// $QEV_DATA/point/CSW/netcdf, one record per wind (StoreHighDensityWinds),
// each new data time notified with the product key 10007.
//
// Construction configures the data type (init) and processes the files
// already waiting in the ingest directory.  The pattern file
// "CSWBufrPattern.txt" is read once per directory pass, before the listing;
// every listed name passes the name check of the shared flow (prefix and
// WMO region designator), and the flow pauses 0.3 s after each file it
// decoded.  It stores messages of data category 5 (or of a category outside
// WMO's table A) whose reports give a satellite identifier (0 01 007) and a
// pressure (0 07 004 or 0 10 004), what makes a satellite wind; a message
// of another kind sets its bulletin aside (windKinds).  Lines are
// logged under the source name "HDWBufrDecoder".
#ifndef HDWBUFRDECODER_H
#define HDWBUFRDECODER_H

#include "SatelliteWindDecoder.h"
#include "StoreHighDensityWinds.h"

class HDWBufrDecoder : public SatelliteWindDecoder {
public:
    static Record hdwRecord();
    static WindType hdwType();

    HDWBufrDecoder();
    ~HDWBufrDecoder() override;

    int write2NetcdfFile() override { return _storing.write2NetcdfFile(); }
    StoreHighDensityWinds& storing() { return _storing; }

private:
    StoreHighDensityWinds _storing;
};

#endif
