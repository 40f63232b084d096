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
// The values are read by report (ReportReader): a wind is a report (a
// subset) that holds a plain latitude value of its own (0 05 001 here), or,
// in a report of none, each repetition of a replication group that holds
// one (its enclosing report's values then stand for what the repetition
// does not give); a report without high-accuracy positions takes its
// stand-ins of the other accuracy (0 05 002, 0 06 002) the same way.  The
// positions in groups of a wind (a trajectory) are not winds, and neither
// is a position of the report that no wind element follows before its next
// one (the position of a measurement, as of a scatterometer's beams).  The
// value after the latitude must be its longitude (0 06 001); a missing
// coordinate or one out of its range leaves the wind out with a PROBLEM
// line, and so does a report that gives no wind of its own in any form.  A
// report that holds its wind's latitude twice or more where nothing tells
// which is its own is no wind the decoder can store: the bulletin is set
// aside with a reason naming the element.
//
// A report's wind comes in whichever form the bulletin gives it: the
// store's own direction and speed (here 0 11 001, 0 11 002), the same in
// the other elements of the layout (stored into the same variables), or
// eastward and northward components (0 11 003, 0 11 004), converted
// (windForms).  The first form of which the report gives both values wins,
// else the first of which it gives one.  A layout with wind vector
// ambiguities (the scatterometer's) reads each ambiguity's wind and its
// likelihood: the repetitions of a delayed replication that hold a wind, or
// else the n-th value of each of those elements written out in the report;
// the one the index of the selected wind vector names is the report's
// (counted from 1), the first where the report gives no index.  An index
// that names none of them, or one that is missing where two or more of them
// give a wind, sets the bulletin aside with a reason naming the element
// (the report is not stored, the others are).
//
// A wind's level is its pressure (0 07 004, 0 10 004): one that gives its
// level only as a height (0 07 002, 0 07 007, 0 10 007, a geopotential
// height or geopotential, a height above the station) is stored without
// it, and the bulletin set aside naming the element, as it is for a value
// whose unit does not convert into its variable's (ElementUnits).
//
// A wind's values are its report's own: the first plain value of each
// element (ReportReader::ownValues), never one of another quantity (under
// a statistics, uncertainty or forecast qualifier), of quality information
// or of a repeated group.  Its confidence (0 33 007) is the first given (not
// missing) among its report's own percent confidences, then those that the
// quality information of the bulletin gives for its wind speed, then for
// its wind direction, in the order the bulletin lists them.  Each record's
// handle is given back after its values, once the next wind has its record
// (the store then syncs the file once a bulletin rather than once a wind).
//
// Results of write2NetcdfFile: 1 stored, 0 nothing to store (a bulletin of
// no data subset, with an EVENT line), -1 a failure: set aside with a
// reason naming its cause (a message of another kind than the decoder's,
// no wind with a position or a wind, no store, no wind with a time, a
// position given twice in a report) or the flow's
// failed-write reason (a wind the store could not place, a handle the store
// could not give back), with a PROBLEM line; the winds placed stay stored
// and notified.  A line that recurs per wind is written a bounded number of
// times per bulletin (BulletinLog).  A wind is notified when its record was
// placed, one of its values stored and its handle given back (the store
// brought its values to the disk).
//
// Lines are logged under the source name of the layout ("StoreHighDensityWinds").
#ifndef STOREHIGHDENSITYWINDS_H
#define STOREHIGHDENSITYWINDS_H

#include "LatLonCoord.h"
#include "RecordWriter.h"
#include "ReportReader.h"
#include "SeqOf.h"
#include "TextString.h"

#include <map>
#include <memory>

class SatelliteWindDecoder;

class StoreHighDensityWinds {
public:
    struct Layout {
        const char* sourceName;
        int latitudeDescriptor;    // the value that places a wind
        int longitudeDescriptor;   // the value right after it
        // The stand-in position of the other accuracy that a report without
        // a latitudeDescriptor value takes; 0 for none.
        int standInLatitude;
        int standInLongitude;
        // The wind as the store holds it, direction and speed.
        int windDirection;
        int windSpeed;
        // The same form in other elements, stored into the variables of the
        // two above; 0 for none.
        int otherDirection;
        int otherSpeed;
        // The element each wind vector ambiguity gives beside its wind, and
        // the index of the selected ambiguity; 0 for none (one wind a report).
        int likelihood;
        int selection;
    };
    static Layout highDensityWindLayout()
    {
        return {"StoreHighDensityWinds", 5001, 6001, 5002, 6002, 11001, 11002, 0, 0, 0, 0};
    }

    // The wind a report gives, as the store writes it: the values of its
    // direction and speed (either may be absent), as given in the store's
    // form or the other elements of it, or the components they are made of.
    struct ReportWind {
        int direction = ReportReader::NONE;    // with components: the eastward one
        int speed = ReportReader::NONE;        // with components: the northward one
        bool components = false;
        bool ownForm = false;                  // the store's own elements
        int likelihood = ReportReader::NONE;
    };
    enum WindFound { WIND, NO_WIND, REFUSED };
    // The wind of the report scope whose latitude is value latitude; why
    // holds the reason for REFUSED.
    WindFound reportWind(int scope, int latitude, ReportWind& wind, TextString& why) const;

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
    // stored.  A value whose unit does not convert into its variable's sets
    // the bulletin aside once stored, naming it.
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
    // The confidence of the wind of a report scope (see above): a value
    // index, or ReportReader::NONE.
    int windConfidence(int scope, const ReportWind& wind) const;

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
    // The reader of the bulletin being stored.
    const ReportReader& reader() const { return *_reader; }
    // Where the reason the bulletin is set aside with once its winds are
    // stored goes (the first one found).
    TextString& refusal() { return _refusal; }

    SatelliteWindDecoder& _decoder;

private:
    // The scopes of the reports that place a wind, from scope down.
    void findWinds(int scope, std::vector<int>& winds) const;
    // The latitudes directly in the scope that a wind element follows
    // before the next of them; all of them where none is followed.
    std::vector<int> windPositions(int scope, int latitude) const;
    // Whether the element is one of a wind's, in any form.
    bool isWindElement(int descriptor) const;
    // Writes a wind given in another form than the store's (a value in the
    // unit of element givenAs) into the variable of descriptor; false when
    // the template has none.
    bool storeWindAs(int ncid, int record, int descriptor, int givenAs, double value);
    // A wind that gives its level only as a height, while the store holds
    // it as a pressure, is named and sets the bulletin aside once stored
    // (own: the wind's own values).
    void checkLevel(int latitude, const std::vector<int>& own);
    // The wind's elements, for the lines that name them.
    TextString windElementsText() const;
    // Gives back a handle taken for a wind, if any (none: true); false when
    // the store could not bring the values written through it to the disk.
    bool giveBack(int*& handle);
    // The bulletin set aside with its reason, after the PROBLEM line.
    int refuse(const TextString& reason);
    Layout _layout;
    RecordWriter _writer;
    std::unique_ptr<ReportReader> _reader;
    // Why the bulletin is set aside, when found before its winds are stored.
    TextString _refusal;
    // The wind of each location getLocations found, by its latitude value.
    std::map<int, ReportWind> _winds;
    // Whether the DEBUG and VERBOSE lines are wanted, asked once per file.
    bool _debug = false;
    bool _verbose = false;
};

#endif
