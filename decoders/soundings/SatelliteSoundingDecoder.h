// What the POES and GOES satellite sounding decoders share: their
// configuration, the location of each sounding at a site of the
// localization, the level arrays, the storing walk and the notification.
//
// A satellite sounding bulletin holds soundings, each at a location and a
// time: a latitude value (POES 0 05 002, GOES 0 05 001) followed by its
// longitude (0 06 002, 0 06 001), the time values around it, and the levels
// (pressure, temperature and, by data type, mixing ratio or dewpoint and
// height).  A report without its data type's latitude takes the position of
// the other accuracy as its stand-in (GOES 0 05 002 / 0 06 002, POES 0 05 001
// / 0 06 001).  Each time value is taken from its own
// element, in the sounding's subset; another element there leaves the
// sounding without a time.
//
// Configuration, read once at construction (init):
// - the site list (a plot-info file, through readStaticPlotInfoPV);
// - the grid resolution (information file, search path): every line not
//   beginning with "#" sets it to its leading number, so the last one wins
//   (a blank line sets 0); a sounding matches the nearest site within half
//   of it (findStationInRadius, kilometres);
// - $QEV_HOME/data/<profile table>: "descriptor|name[|...]" lines, "#"
//   comments; the BUFR descriptors of the profiles and their names;
// - the "tblBname" attributes of the store's template: the netCDF variable
//   of each table B element name.
//
// A message is of satellite soundings when section 1 gives it their data
// category, 3 (vertical soundings, satellite); a message of another category
// is not stored as soundings, and the bulletin is set aside naming it (the
// flow stores the bulletin's other messages).
//
// A file is stored in these steps (write2NetcdfFile):
// 1. storeSounding: every latitude value starts a sounding candidate; one
//    whose location matches a site becomes a Sounding record, with its time
//    (rounded to the minute, or none when the time values are not where the
//    data type has them or do not make a time), its level count and, when
//    it has both, its levels gathered per profile (buildLevels); the values
//    of its profiles are marked as such (Sounding::markedEnd).  The level
//    count is the most values one of its profiles gives to levels (a value
//    beside the data type's marks of surface values gives none): every level
//    value has its slot, whatever the sounding gives at its surface;
// 2. getObservationTimes: the times of the records that have one;
// 3. storeSite: per record with a time, a handle and record of the store
//    (site id, time), "numLevels", the profiles (one array write each) and
//    every other value with a template variable, then the handle given back;
//    a record without a time is skipped (its levels were never gathered);
// 4. one notification per distinct time among the records of which a value
//    was written and whose handle was given back (the store brought the
//    values to the disk).
// A sounding's values run from its latitude to the next year value (0 04
// 001) or the end of its subset, whichever comes first.  A located sounding
// whose latitude lies among the values of the one before (no year value
// between them) fails the file before anything is stored: the two would
// share their levels, and a short bulletin of such soundings would take
// time and memory by the square of its values.  Every read at a
// fixed offset from a value (the time values, the neighbours of a level
// value, the longitude) checks that the position lies inside the decoded
// values; one outside is absent, with one PROBLEM line.
//
// A sounding gives each quantity of a profile in one of the elements the
// profile table names for it (temperatures 0 12 001 or 0 12 101, dewpoints
// 0 12 003 or 0 12 103), or in a form that converts into them
// (ElementForms, where Settings::holds lets the profile take them: a GOES
// sounding's heights as geometric heights or geopotentials, stored as
// geopotential heights; either type's pressures in the other pressure
// element, both in Pa), taken where its levels
// give the quantity in none of the table's elements; one whose levels give
// a quantity only in a form that does not convert (a POES sounding's
// humidity as a dewpoint, a GOES sounding's as a mixing ratio, heights
// above the station) is stored
// with what it gives, and the file is then set aside with a reason naming
// the element, so that nothing it gives is dropped unsaid.  A value of one
// per record (the POES elevation, the cloud cover) is taken from its own
// element or from another form of it that the sounding gives once
// (converted: the POES elevation as the station's height or a height or
// altitude); one in a form that does not convert (a cloud amount in oktas)
// is named where the sounding gives the quantity in no other.  A record
// holds the first value a sounding gives each such variable; a different
// one given after it is named, and the file set aside.
// The form is judged by the levels' values alone: a surface value of the
// profile's own element does not stand for levels of another.  A variable
// of levels takes profiles only: a value of its element that no profile
// takes is never written into one level of it; a level value of that kind
// sets the file aside naming its element.  A sounding of more levels than
// the store's profiles hold is stored with the levels that fit, and the
// file set aside saying how many it gives and the store holds.
//
// The result: 0 nothing to store on purpose, with an EVENT line naming the
// file (no data subset, or every sounding has a position and none lies in
// this localization: "0 of 30 soundings lie in this localization"); 1
// every located sounding stored; -1 when the message is of another data
// category, when nothing was located for another reason (no sounding
// position, soundings without one), when a located sounding was not stored
// (no time, no handle, "numLevels" not writable, a handle not given back,
// soundings that share values, or no configuration), or stored without a
// value it gives (above), with a PROBLEM line, so that the file goes to the
// bad-file directory with the soundings that could be stored stored.  A
// line that recurs per sounding is written a bounded number of times per
// bulletin (BulletinLog).
//
// The work is linear in the values: every value is looked at a bounded
// number of times, a value's profile and variable are found by array or
// small-table look-ups, and per-value and per-level log lines are composed
// only when their category is on (BufrDecoder::logOn keeps its answers).
//
// Everything runs on the main thread.  Lines are logged under the data
// type's decoder and store source names.
#ifndef SATELLITESOUNDINGDECODER_H
#define SATELLITESOUNDINGDECODER_H

#include "BufrFileDecoder.h"
#include "BulletinLog.h"
#include "DataAccessKey.h"
#include "DataTime.h"
#include "DescriptorNameCache.h"
#include "Dict.h"
#include "ElementForms.h"
#include "FirstValues.h"
#include "RecordWriter.h"
#include "SeqOf.h"
#include "TextString.h"

#include <cstdint>
#include <vector>

class AbsTime;
class BufrValues;
class NetcdfPointData;
struct PlotInfoTable;

class SatelliteSoundingDecoder : public BufrFileDecoder {
public:
    // A quantity the data type's store holds: in a profile (named as in the
    // profile table), or in the variable of the element `into`, one value
    // per record (profile null).  converted: whether the forms of the
    // quantity that convert into `into` are taken (for a profile, where its
    // levels give it in none of the table's elements).
    struct Holds {
        ElementForms::Quantity quantity;
        const char* profile;
        int into;
        bool converted;
    };

    // An element in which WMO layouts give a quantity that the data type's
    // store holds in other elements (ElementForms's forms of a Holds): in a
    // profile, or in the variable of the element `into`.  A form that
    // converts is stored as a value of `into` (ElementForms::convert); one
    // that does not is named.
    struct OtherForm {
        int descriptor;
        const char* profile;
        const char* quantity;    // "humidity", for the lines
        int into;
        bool converts;
    };

    // What a data type gives: names, files, keys and the texts of the
    // storing code's lines.
    struct Settings {
        const char* decoderSource;     // source name of the decoder's lines
        const char* storeSource;       // source name of the storing lines
        const char* typeName;          // "POES": "... for POES soundings."
        const char* dataTypeName;
        const char* patternFile;
        const char* siteFile;          // plot-info site list
        const char* infoFile;          // grid resolution
        const char* profileTable;      // below $QEV_HOME/data/
        const char* storePath;         // below $QEV_DATA
        int timeout;                   // tenths of a second
        DataAccessKey productKey;
        int latitudeDescriptor;
        int longitudeDescriptor;       // the value right after the latitude
        // The stand-in position of the other accuracy that a report without
        // a latitudeDescriptor value takes; 0 for none.
        int standInLatitude;
        int standInLongitude;
        // checkLocation: a missing coordinate; then located or not as
        // locationPrefix + latitude + ", " + longitude + one of the endings.
        const char* missingLocation;
        const char* locationPrefix;
        const char* notLocalEnding;
        const char* locatedEnding;     // followed by the site id
        // storeSounding: no levels, prefix + latitude + ", " + longitude +
        // ending.
        const char* noLevelsPrefix;
        const char* noLevelsEnding;
        // storeSite: the line per sounding (prefix + site + "  " + time +
        // " ......") and the ending of the no-handle line.
        const char* storingPrefix;
        const char* noHandleEnding;
        // The quantities the store holds whose other forms it takes or
        // names, ended by NO_QUANTITY.
        const Holds* holds;
    };

    // The most profiles of a data type.
    enum { MAX_PROFILES = 4 };

    // One located sounding.
    struct Sounding {
        int valueIndex = 0;     // position of its latitude value
        int subset = 0;
        TextString siteId;
        bool timed = false;     // whether time holds its observation time
        double time = 0;        // seconds since 1970
        int levelCount = 0;
        // The element of the other form its levels give a quantity in, 0 for
        // none (the PROBLEM line named it).
        int otherForm = 0;
        // Per profile, the converting form its levels give it in, where they
        // give it in none of its own elements; 0 for its own elements.
        int forms[MAX_PROFILES] = {};
        // One past the last value buildLevels walked: the values of the
        // profile descriptors from valueIndex up to here are the sounding's
        // profile values (valueIndex when its levels were not gathered).
        int markedEnd = 0;
    };

    // The value of a level that no value reached.
    static const float LEVEL_FILL;
    // The year element: a sounding's walk ends at the next one.
    static const int YEAR_DESCRIPTOR = 4001;
    // The data category of section 1 that satellite soundings come in.
    static const int SOUNDING_CATEGORY = 3;

    // The clock of the future-time check (seconds since 1970; AbsTime::now
    // unless replaced; null restores it).
    typedef int32_t (*Clock)();
    static void setClock(Clock clock);
    static int32_t now();

    ~SatelliteSoundingDecoder() override;

    int getTimeout() const override { return _timeout; }
    TextString getPatternFileName() const override { return _settings.patternFile; }
    TextString getDataTypeName() const override { return _dataTypeName; }
    bool preProcess() override { return false; }
    int write2NetcdfFile() override;
    bool sendNotification() override;

    // ---- Configuration ----
    // Reads the site list, the grid resolution, the profile table, then
    // fetches the store and reads its template; true when all was read.
    bool init();
    // The store's template dictionary and the profile variables it names.
    void readStoreTemplate();
    bool getGridResolution();
    bool readProfileDescTable();
    bool initialized() const { return _initialized; }
    float gridResolution() const { return _gridResolution; }
    const Dict<int, TextString>& profileDescTable() const { return _profDescTable; }

    // ---- Times ----
    // {t, 0, [t, t], t, 0, 0x300}.
    void setDataTime(AbsTime t);
    const DataTime& dataTime() const { return _dataTime; }
    // The times of the Sounding records that have one, in order (seconds
    // since 1970); storeSounding took them.
    SeqOf<double> getObservationTimes();
    // The observation time of the sounding whose latitude value is at
    // valueIndex, rounded to the minute; false (logged) when it has none.
    virtual bool observationTime(int valueIndex, AbsTime& time) = 0;
    // The number of levels of the sounding of the subset, counted from
    // start (the data type's rule).
    virtual int getProfileCount(const int& start, const int& subset) = 0;

    // ---- Levels ----
    // Every level array _numLevels long, each level LEVEL_FILL.
    void initLevelArrays();
    void resetLevelIndices();
    bool levelInRange(const int& index, const int& count) const { return index <= count; }
    // Whether the value at index belongs to a level (the data type's test
    // of its neighbours); a neighbour outside the values is logged.
    bool isLevelDescriptor(const int& index) { return levelValue(index, true); }
    // The same test; report: a neighbour outside the values is logged
    // (otherwise it is quietly no level value).
    virtual bool levelValue(int index, bool report) const = 0;
    void resetValueFlags();
    // Copies the level arrays into entry `sounding` of the profile lists.
    void saveProfile(int sounding);
    void clearProfileArrays();
    // Gathers the levels of the sounding whose latitude value is at start
    // (the current one, _siteIndex) and marks its profile values.
    bool buildLevels(int start);
    // The saved profile of the current sounding that the value at index
    // belongs to; empty when it is none.
    void getProfileArray(int index, SeqOf<float>& values);
    // The profile name of the value at index when it is a profile value of
    // the current sounding; null otherwise.
    const TextString* profileMark(int index) const
    {
        const ProfileDescriptor* d = markedProfile(index);
        return d ? &d->name : nullptr;
    }

    // ---- Storing ----
    int storeAllSites();
    // Locates the soundings; 1 when one was located; 0 (after the EVENT
    // line) when every sounding has a position and none lies in the
    // localization; -1 (nothing located, after a PROBLEM line) when the file
    // holds no sounding position, when soundings without one kept any from
    // being located, or when a located sounding lies inside the one before.
    int storeSounding();
    bool checkLocation(float latitude, float longitude, TextString& siteId);
    bool findSite(float latitude, float longitude, TextString& siteId);
    int storeSite();
    int* getHandle(const TextString& siteId, double time, int& record);
    bool putLvlCountsNetcdf(int ncid, int record);
    // Writes the value at index into the record; written tells whether a
    // value went into the file.  False only for a value that has neither a
    // variable nor a text.
    bool storeSingleton(int ncid, int record, int index, bool& written);
    bool insertDecodedValues(int ncid, int record, const TextString& name,
                             const TextString& token, float value);
    // The text as the record's row of the named char variable, cut to it.
    void putTextValue(int ncid, const TextString& name, int record, const TextString& text);
    bool storeArray(int ncid, int record, const TextString& name, const SeqOf<float>& values);
    bool getVarId(int ncid, const TextString& name, int& varId);
    // True when the profile of the descriptor was already written for the
    // sounding; otherwise notes it and gives false.
    bool findRecord(long descriptor, long sounding);
    void clearRecords() { _records = Dict<long, long>(); }
    SeqOf<bool> makeStoredFlags(int n) const;
    int notifyNewDataTimes(const SeqOf<bool>& stored);

    // ---- State (for the tests) ----
    const SeqOf<Sounding>& soundings() const { return _soundings; }
    int numLevels() const { return _numLevels; }
    void setNumLevels(int n) { _numLevels = n; }
    const SeqOf<int>& valueFlags() const { return _valueFlags; }
    const TextString& storeDir() const { return _storeDir; }

protected:
    // A level array of the data type with its cursor, its saved profiles,
    // and whether its values pass isLevelDescriptor; label begins its
    // column of the level dump (" _press[").
    struct Profile {
        const char* name;
        const char* label;
        SeqOf<float>* levels;
        int* cursor;
        SeqOf<SeqOf<float> >* saved;
        bool levelTest;
    };

    SatelliteSoundingDecoder(const Record& record, const Settings& settings);
    // The steps of the flow for one named file of a directory: decoded,
    // stored, then unlinked or moved to the bad-file directory.
    void processOneFile(const TextString& directory, const TextString& name);

    // The data type's profiles (at most MAX_PROFILES); their number.
    virtual int profiles(Profile* out) = 0;
    // Orders the gathered levels (POES: by pressure).
    virtual void orderLevels() {}
    // The gathered levels, one line each (VERBOSE).
    void logLevels();
    // The number of values of the descriptor in the sounding of the subset
    // from start on (levelsOnly: those that are level values), each logged
    // (DEBUG, after trace); where it counts none, those of the first other
    // form of its quantity that converts into it and counts some (a
    // pressure 0 10 004 for 0 07 004, and the reverse); none when the
    // sounding has a value of neither.  The result is logged (VERBOSE).
    int countLevels(int start, int subset, int descriptor, const char* trace, bool levelsOnly,
                    int none);

    // A descriptor of the profile table: its name and the data type's
    // profile of that name (-1 for a name that is none of them); or a
    // converting form of a profile (OtherForm), with the element its values
    // are converted into (0 for the table's own).  variable: the template
    // variable the profile's values go to (empty for none).
    struct ProfileDescriptor {
        int descriptor;
        TextString name;
        int profile;
        int into;
        TextString variable;
    };
    // The entry of the descriptor among the profiles' elements, or null.
    const ProfileDescriptor* profileDescriptor(int descriptor) const
    {
        for (const ProfileDescriptor& d : _profileDescriptors)
            if (d.descriptor == descriptor)
                return &d;
        return nullptr;
    }
    // The same where the sounding's levels take the element: a profile's own
    // elements, or the converting form its levels give it in.
    const ProfileDescriptor* levelDescriptor(int descriptor, const Sounding& s) const
    {
        const ProfileDescriptor* d = profileDescriptor(descriptor);
        if (!d || d->profile < 0)
            return d;
        return (d->into == 0 ? s.forms[d->profile] == 0 : s.forms[d->profile] == descriptor)
                   ? d
                   : nullptr;
    }
    // The profile entry of the value at index when it is a profile value of
    // the current sounding; null otherwise.
    const ProfileDescriptor* markedProfile(int index) const;
    // The template variable of the descriptor (lookupElementName, kept per
    // descriptor); false when it has none.
    bool variableOf(int descriptor, TextString& name);

    // The value at index, or null after one PROBLEM line naming what was
    // looked for and from where, under the source name given.
    const BufrValues* valueAt(int index, const char* what, int from, const char* source) const;
    // The value before (offset -1) or after (1) the value at index, or null:
    // reported as valueAt does, or quietly.
    const BufrValues* neighbour(int index, int offset, bool report, const char* source) const
    {
        if (report)
            return valueAt(index + offset, offset < 0 ? "value before" : "value after", index,
                           source);
        const int k = index + offset;
        return k >= 0 && k < _decodedValues.length() ? &_decodedValues[k] : nullptr;
    }
    // Whether the value at index is of the element and in the subset given.
    bool elementAt(int index, int subset, int descriptor) const;
    // The seconds of a sounding's time: the value at index where it is a
    // second (0 04 006, or 0 04 007 to the microsecond) of the subset given,
    // else 0.
    double secondAt(int index, int subset) const;
    // False after a PROBLEM line (bounded per bulletin) saying why the
    // sounding at valueIndex has no time.
    bool noTime(int valueIndex, const char* why);
    // One past the last value of the sounding whose latitude value is at
    // start: the next year value or the first value of another subset.
    int soundingEnd(int start) const;
    // What the levels of the sounding whose latitude value is at start
    // give: levels, the most values one profile gives to levels (the values
    // buildLevels places); forms, per profile, the converting form its
    // levels give it in where they give it in none of its own elements (the
    // first such met; 0 for its own); otherForm, the first form that does
    // not convert in which its levels give a quantity of a profile of which
    // they give none in another (0 for none), and why, the words naming it.
    void surveyLevels(int start, int& levels, int* forms, int& otherForm, TextString& why);
    // The other forms of the data type's values of one per record.
    bool isSingleForm(const OtherForm& f) const { return f.profile == nullptr; }
    // The time of calendar fields given as decoded values, rounded to the
    // nearest minute; false (logged) when they do not make a time.
    bool roundedTime(const double fields[6], int valueIndex, AbsTime& time);
    static TextString timeText(double seconds);

    const Settings _settings;
    const PlotInfoTable* _siteTable = nullptr;
    // The soundings of the file and the one being built or stored.
    SeqOf<Sounding> _soundings;
    int _siteIndex = -1;
    int _numLevels = 0;
    float _gridResolution = 0;
    DataTime _dataTime;
    TextString _stationId;
    TextString _storeDir;
    Dict<int, TextString> _profDescTable;
    SeqOf<int> _valueFlags;
    Dict<TextString, TextString> _descriptorDict;
    TextString _dataTypeName;
    int _timeout;
    Dict<long, long> _records;
    BulletinLog _bulletinLog;

private:
    // The smallest level dimension of the profile variables of the file.
    long levelCapacity(int ncid);
    // The value at index, of the variable of levels named, is not written:
    // a level value given sets the file aside naming its element (once the
    // current sounding's other form named it, without a line of its own).
    void levelValueRefused(int index, const TextString& variable);

    // The other forms of the quantities the store holds (Settings::holds),
    // made from the catalogue once the profile table is read: none of the
    // table's elements and none a single value's own element.
    void makeOtherForms();
    std::vector<OtherForm> _otherForms;

    // The values of one per record of the sounding being stored.
    // beginSingles counts the other forms of such values among its values
    // [begin, end); singleForm is the other form of the value at index that
    // the record takes (one the sounding gives once), or null; firstGiven
    // keeps the first value given to each variable and names a different
    // one given after it (false: not to be written); endSingles names each
    // form that does not convert given for a variable that holds nothing.
    void beginSingles(int begin, int end);
    const OtherForm* singleForm(int index) const;
    bool firstGiven(int index, const TextString& variable, double value);
    void endSingles();
    struct SingleFormSeen {
        const OtherForm* form;
        int count;
        int first;    // its first given value, -1 for none
    };
    FirstValues _given;
    std::vector<SingleFormSeen> _singleForms;

    NetcdfPointData* _store = nullptr;
    RecordWriter _writer;
    // Why the file is set aside once its soundings are stored: the first
    // value a sounding gives that its record does not hold (a quantity in a
    // form its profile does not take, levels past the store's).
    TextString _asideReason;
    void setAsideAfterStoring(const TextString& why)
    {
        if (_asideReason.length() == 0)
            _asideReason = why;
    }
    // The variables the profile descriptors map to.
    SeqOf<TextString> _profileVariables;
    // The profile table as the level walk reads it (a few entries).
    std::vector<ProfileDescriptor> _profileDescriptors;
    // The variable of each descriptor met, or the empty name for none.
    DescriptorNameCache _variables;
    bool _initialized = false;
};

#endif
