// The storing half of the satellite wind decoders: the decoded values of one
// BUFR file into the decoder's point-data store, one record per wind (its
// position and observation time), then one notification per distinct data
// time of the winds stored.  The high-density winds use it as it is; the
// scatterometer winds (StoreQuikScatWinds) change the points this class
// leaves open.
//
// Which variables exist is fixed by the store's template: a value is written
// into the variable whose "tblBname" is the table B element name of its
// descriptor.  The position and time of a record are written by the store.
//
// A wind is found at each latitude value (0 05 001 here) that the next value
// of the same report follows with its longitude (0 06 001); a report without
// high-accuracy positions takes its stand-ins of the other accuracy (0 05
// 002, 0 06 002) the same way.  A latitude followed by anything else, a missing coordinate or one
// out of its range leaves the wind out with a PROBLEM line.  Its values run
// from its latitude up to, not including, the next year value (the site
// end) other than its own time group's (when that follows its position),
// or the end of its report (subset), whichever comes first: a value of
// the next report never lands in this record.  Each record's handle is
// given back after its values, once the next wind has its record (the store
// then syncs the file once a bulletin rather than once a wind).
//
// Results of write2NetcdfFile: 1 stored, 0 nothing to store (a bulletin of
// no data subset, with an EVENT line), -1 a failure (no wind with a
// position, no store, no wind with a time, a wind the store could not place,
// a handle the store could not give back), with a PROBLEM line; the winds
// placed stay stored and notified.  A line that recurs per wind is written
// a bounded number of times per bulletin (BulletinLog).  A wind is notified when its record
// was placed, one of its values stored and its handle given back (the store
// brought its values to the disk).
//
// Lines are logged under the source name of the layout ("StoreHighDensityWinds").
#ifndef STOREHIGHDENSITYWINDS_H
#define STOREHIGHDENSITYWINDS_H

#include "LatLonCoord.h"
#include "RecordWriter.h"
#include "SeqOf.h"
#include "TextString.h"

class SatelliteWindDecoder;

class StoreHighDensityWinds {
public:
    struct Layout {
        const char* sourceName;
        int latitudeDescriptor;    // the value that begins a wind
        int longitudeDescriptor;   // the value right after it
        // The stand-in position of the other accuracy that a report without
        // a latitudeDescriptor value takes; 0 for none.
        int standInLatitude;
        int standInLongitude;
        int siteEndDescriptor;     // the value that ends a wind's values
    };
    static Layout highDensityWindLayout()
    {
        return {"StoreHighDensityWinds", 5001, 6001, 5002, 6002, 4001};
    }

    explicit StoreHighDensityWinds(SatelliteWindDecoder& decoder,
                                   const Layout& layout = highDensityWindLayout());
    virtual ~StoreHighDensityWinds();
    StoreHighDensityWinds(const StoreHighDensityWinds&) = delete;
    StoreHighDensityWinds& operator=(const StoreHighDensityWinds&) = delete;

    int write2NetcdfFile();
    int storeFile();
    // The wind positions, in order (and their latitudes' positions in the
    // decoder's locationIndices); 1 when at least one was found.
    int getLocations(SeqOf<LatLonCoord>& locations);
    // False, after a PROBLEM line, when either is missing or out of range.
    bool checkLocation(const float& lat, const float& lon);
    // The handle of the record of a wind; null after a PROBLEM line.
    int* getHandle(const LatLonCoord& location, const double& time, int& record);
    // 1, or -1 when a wind got no record.
    int storeAllSites(SeqOf<LatLonCoord>& locations, SeqOf<double>& times);
    // Writes decoded value index at the record; false when it counts as not
    // stored.
    virtual bool storeSingleton(int ncid, int record, int index);
    // Writes one value into the named variable by its type: a number into an
    // int, float or double variable, the text into a char variable (cut to
    // its row); other types take nothing.  False after a PROBLEM line.
    bool insertDecodedValues(int ncid, const TextString& varName, const TextString& dataToken,
                             float value, int record);
    // The text as the record's row of the named char variable, cut to it.
    void putTextValue(int ncid, const TextString& varName, int record, const TextString& text);
    // The id of the named variable of the file; false after a PROBLEM line.
    bool getVarId(int ncid, const TextString& name, int* varId);
    // n flags, all false.
    static SeqOf<bool> makeSiteFlags(int n);
    // One notification per distinct data time of the flagged winds; true.
    bool notifyNewDataTimes(const SeqOf<bool>& flags, const SeqOf<double>& times);

protected:
    // A wind's record was placed, before its values are written.
    virtual void siteRecordPlaced(int ncid, int record, int valueIndex);
    // storeSingleton refused the value at index of the wind at location.
    virtual void valueRefused(int index, const LatLonCoord& location);
    // The variable of a descriptor's element in the template.
    bool lookupVariable(int descriptor, TextString& name) const;
    const char* source() const { return _layout.sourceName; }
    bool debugOn() const { return _debug; }
    // The record writer, on the file of ncid.
    RecordWriter& writer(int ncid) { return _writer.at(ncid); }

    SatelliteWindDecoder& _decoder;

private:
    // Gives back a handle taken for a wind, if any (none: true); false when
    // the store could not bring the values written through it to the disk.
    bool giveBack(int*& handle);
    Layout _layout;
    RecordWriter _writer;
    // Whether the DEBUG and VERBOSE lines are wanted, asked once per file.
    bool _debug = false;
    bool _verbose = false;
};

#endif
