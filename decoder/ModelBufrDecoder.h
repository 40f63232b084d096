// The decoder of model soundings: BUFR bulletins of numerical weather models
// (ETA, RUC, AVN and NGM), one data subset per station and forecast time,
// stored in one netCDF point-data directory per model,
// $QEV_DATA/point/model/<MODEL>/netcdf.
//
// Configuration, read once at construction:
// - "modelBufrStationInfo.txt" (information-file search path): the stations
//   of this localization, "number|id|..." a line; a file whose first station
//   is not among them is not stored;
// - $QEV_HOME/data/modelProfDescTable.txt: "descriptor|profile" a line, the
//   BUFR elements gathered into the sixteen profiles (PROFILE_NAMES);
// - the "tblBname" attributes of each model directory's "template": the
//   netCDF variable of each table B element name, and its level dimensions
//   "maxProfLvls" and "maxSoilLvls".
// In both text tables "#" begins a comment line; a line without a second
// "|" field ends the reading as corrupted.  Fields lose trailing blanks and
// the line ending.
//
// The model of a file is the digit that begins its designator (the 5th
// character of its name): 4 ETA, 5 RUC, 6 AVN, 7 NGM; it is taken from each
// file's own name.
//
// A file is stored in three steps (write2NetcdfFile):
// 1. preProcess places the profile values of every station at their levels.
//    A station's levels are the repetitions of its delayed replication that
//    holds the profile's element (a level's position in the group is its
//    level), or, where the levels are written out (fixed replication), the
//    values of the profile's element in their order.  Each station's level
//    and soil layer counts are its own replication factors (or counts of
//    written-out levels).  A value is a profile's when the profile table
//    names its element, or when its template variable is a profile's
//    (0 10 004 PRESSURE, 0 12 001 TEMPERATURE/AIR TEMPERATURE).  A value of
//    a profile's quantity outside the station's levels of it (a surface
//    block after the levels), a second value for one level, a level past
//    those the template holds, and a value of a quantity the template holds
//    in another element only (its HELD element, into which the form does
//    not convert: ElementForms) are not stored: each is named in a PROBLEM
//    line, and the bulletin is set aside once its soundings are stored.
//    Each profile value is marked with its profile's name.  A wind given
//    as its direction and speed (0 11 001 and 0 11 002, or the speed in
//    km/h or knots, 0 11 083, 0 11 084), where the template has no
//    variable of their own, is placed as the components are (the
//    direction with UWIND, the speed with VWIND) and stored as components
//    at each level that gives both (a missing one: missing components);
//    the components a level gives too are kept, and a direction and speed
//    that differ from them by more than their coding's precision are a
//    second value for the level.  A direction without a speed at its
//    level, or the reverse, is a form the store does not hold.  A station's
//    value in another form of a quantity of one value per record
//    (STATION_VALUES: its elevation in any form ElementForms gives for a
//    station's elevation, the height of the land surface, a height, a
//    geopotential height or a geopotential; its number in five digits),
//    given once outside its levels, is marked to be stored converted into
//    that quantity's element.
// 2. computeTimes gives each station its forecast time: the section 1 time
//    (the run; a message without one has no sounding the store can hold,
//    and is set aside) plus its forecast time element 0 04 194 (seconds).
//    A station whose forecast time is missing, or makes a time before 1970
//    or past the last second a time holds (2038-01-19 03:14:07; an operator
//    may widen or scale the element), is not stored, with a PROBLEM line,
//    and the bulletin is set aside once the others are stored; so is a
//    station the store cannot hold (its forecast time past the template's,
//    its id longer than the store's ids: NetcdfPointData::recordRefusal).
// 3. The walk over the decoded values takes one record per station from the
//    model's store (station id; reference and forecast time), writes the
//    station's two level counts (at most what the template holds), each
//    profile with one array write of the template's levels (levels that no
//    value reached hold 1e37) at its first level, and every other value
//    with a template variable at [record, value index], in the variable's
//    unit (the BUFR missing values included; a unit that does not convert is
//    named and sets the bulletin aside once stored); no such value ever
//    goes into a profile's variable, and a variable of one value per record
//    holds the first value its station gives it (a different one given
//    after it is named).  Then every station of which a value was stored
//    is notified (product key 10001 ETA, 10002 AVN, 0 otherwise; data time
//    {t, f, [t + f, t + f], t, 0, 0x700}).
// The result: 1 stored, 0 nothing to store (no values, or a first station
// outside the localization), -1 a failure (the file goes to the bad-file
// directory; stations stored before the failure stay stored and notified).
// A failure that is no storage failure sets the file aside with a reason
// that names its cause: a message of another kind (one without any forecast
// time 0 04 194, whatever its texts, or of a data category no model
// sounding has: it takes vertical soundings 2, forecasts 13 and the
// experimental and local categories 240 to 255), a missing element, a
// layout the walk cannot pair, a value not stored.  A file of several
// messages of another kind says so in one line per reason.
//
// Everything runs on the main thread.  Lines are logged under the source
// name "ModelBufrDecoder".
#ifndef MODELBUFRDECODER_H
#define MODELBUFRDECODER_H

#include "BufrFileDecoder.h"
#include "BulletinLog.h"
#include "DataAccessKey.h"
#include "DataTime.h"
#include "DescriptorNameCache.h"
#include "Dict.h"
#include "FirstValues.h"
#include "RecordWriter.h"
#include "SeqOf.h"
#include "SeqOfPtr.h"
#include "Set.h"
#include "TextString.h"

#include <climits>
#include <cstddef>
#include <cstdio>
#include <vector>

class AbsTime;
class NetcdfPointData;
class ReportReader;

class ModelBufrDecoder : public BufrFileDecoder {
public:
    enum Model { ETA, RUC, AVN, NGM, NUM_MODELS };
    enum { NUM_PROFILES = 16, NUM_ATMOSPHERIC_PROFILES = 14 };
    // The forecast time of a sounding, 0 04 194: seconds after the section
    // 1 time.
    enum { FORECAST_TIME = 4194 };
    // The profiles, the fourteen atmospheric ones first.
    static const char* const PROFILE_NAMES[NUM_PROFILES];
    // What a level of a profile holds when no value reached it.
    static const float PROFILE_FILL;
    // The data categories of section 1 a model sounding may carry: vertical
    // soundings (other than satellite), forecasts, and the experimental and
    // local ones whose meaning is the centre's.
    static bool isSoundingCategory(int category);

    // What preProcess made of a decoded value.
    enum ValueRole {
        NO_PROFILE,         // no value of a profile's quantity
        LEVEL,              // a level of its station's profile
        FIRST_LEVEL,        // the same, the first of that profile in its station
        OUTSIDE_LEVELS,     // a profile's quantity outside the station's levels
                            // of it
        SECOND_VALUE,       // a second value for one level
        BEYOND_TEMPLATE,    // a level past those the template holds
        OTHER_FORM,         // a quantity the template holds under another
                            // element only
        STATION_FORM        // a station's value in another form of a
                            // quantity of one value per record (STATION_VALUES),
                            // stored converted into it
    };

    // The flow's values of the model decoder.
    static Record modelRecord();
    // The model of a designator digit ('4' to '7'); NUM_MODELS for another
    // character.
    static Model modelOfDigit(char digit);
    static const char* modelName(Model model);

    ModelBufrDecoder();
    ~ModelBufrDecoder() override;

    int getTimeout() const override { return _timeout; }
    TextString getPatternFileName() const override;
    TextString getDataTypeName() const override { return _dataTypeName; }
    bool preProcess() override;
    int write2NetcdfFile() override;
    bool sendNotification() override;
    bool checkFileName(const TextString& name) override;

    // ---- Configuration ----
    bool readStationTable();
    bool readProfileDescTable();
    bool isLocalStation(const TextString& id) const { return _localStations.find(id); }

    // ---- Times ----
    // The forecast time of each 0 04 194 value (section 1 time + its
    // seconds), in order; offsets gets the seconds.  Each such value is
    // marked "Time".  A value that is missing, or that makes a time before
    // 1970 or past the last second a time holds, gives the time 0 and the
    // offset 0, and unheld the words why ("its forecast time (0 04 194) is
    // missing"); unheld is empty for the others.
    SeqOf<AbsTime> computeTimes(SeqOf<double>& offsets, SeqOf<TextString>* unheld = nullptr);

    // ---- Profiles ----
    static bool lessThan(const int& a, const int& b) { return a < b; }
    // The profile of the decoded value at valueIndex, as its station gives
    // it (levels no value reached hold PROFILE_FILL), or empty when the
    // value is no placed profile value.
    void collectProfiles(int valueIndex, SeqOf<float>& profile);
    void clearProfileLists();

    // ---- Storing ----
    int storeFile();
    // The character values of the decoded values, in order, but for empty
    // ones and "Time".
    SeqOf<TextString> buildStationList() const;
    // The handle and record of the station at that forecast time in the
    // file's model store; null after a PROBLEM line.
    int* getNetcdfHandle(const TextString& id, const AbsTime& forecastTime, int& record);
    // Writes decoded value i at the record; false when the value has no
    // variable to go to.  Of the values of one per record, the first a
    // station gives a variable goes in; one given after it that differs is
    // named, and the bulletin set aside once stored.
    bool storeValues(int ncid, int record, int i);
    // The station whose values storeValues writes next: nothing given yet.
    void beginStation() { _given.clear(); }
    // Writes numProfLvls and numSoilLvls at the record; NC_NOERR, or the
    // netCDF status of the write that failed last.
    int putLevelCounts(int ncid, int record);
    // A profile at [start[0], 0 .. count[1] - 1]; its netCDF status.
    int putFloatArray(int ncid, const size_t* start, const size_t* count,
                      const TextString& name, const SeqOf<float>& values);
    // One value at [index[0], index[1]] by the variable's type: int
    // (truncated and clamped to the int range), float, double, char (the
    // text, putStringVar); other types are not written.
    void putValue(int ncid, const TextString& name, const TextString& text, float value,
                  const size_t* index);
    // The text as the record's row of a char variable, padded with NULs; a
    // text longer than the row is not written.
    void putStringVar(int ncid, const TextString& name, size_t record, const TextString& text);
    void setFillMode(int ncid, bool noFill);
    void setTimeRange(long offset);

    // ---- State (for the tests) ----
    const TextString& currentModelName() const { return _modelName; }
    int numProfLvls() const { return _numProfLvls; }
    int numSoilLvls() const { return _numSoilLvls; }
    void setLevelCounts(int atmospheric, int soil)
    {
        _numProfLvls = atmospheric;
        _numSoilLvls = soil;
    }
    // The profile of every station, in order.
    SeqOf<SeqOf<float> > profileList(int profile);
    int levelIndex(int valueIndex) const;
    ValueRole valueRole(int valueIndex) const;
    // The atmospheric levels and soil layers station s gives (its own
    // replication factors); -1 for a station preProcess did not see.
    int stationLevels(int s) const;
    int stationSoilLayers(int s) const;
    const DataTime& notificationTime() const { return _notificationTime; }
    const Dict<int, TextString>& profileDescriptors() const { return _profileDescriptors; }
    int localStationCount() const { return _localStations.count(); }
    const TextString& storeDirectory(Model model) const { return _outputs[model].directory; }
    // The model whose variables storeValues writes (the file's model).
    void selectModel(Model model) { _current = &_outputs[model]; }

protected:
    TextString readingTraceName() const override { return _modelName; }
    bool checkDesignator(const TextString& designator) override;

private:
    // What the decoder keeps per model.
    struct ModelOutput {
        TextString directory;
        NetcdfPointData* store = nullptr;
        Dict<TextString, TextString> templateDict;
        DescriptorNameCache names;
        // The template's "maxProfLvls" and "maxSoilLvls" (INT_MAX when it
        // has no such dimension).
        int maxProfLvls = INT_MAX;
        int maxSoilLvls = INT_MAX;
        // The variable of each profile: that of an element the profile table
        // gathers into it (empty when the template has none).
        TextString profileVariables[NUM_PROFILES];
    };
    // A station (one data subset) as preProcess found it: its values
    // [begin, end) and the levels and soil layers it gives.
    struct StationLevels {
        int begin = 0, end = 0;
        int levels = 0, soilLayers = 0;
    };

    // The output's template dictionary and level limits.
    void readOutputTemplate(ModelOutput& output);
    // Reads "number|text" lines of at most lineLimit characters; name names
    // the file in the messages.  Closes the file.
    bool readBarTable(FILE* file, const TextString& name, int lineLimit,
                      void (ModelBufrDecoder::*entry)(int, const TextString&));
    void addStation(int number, const TextString& id);
    void addProfileDescriptor(int descriptor, const TextString& name);
    // The index of a profile name in PROFILE_NAMES, or -1.
    static int profileIndex(const TextString& name);
    // The variable of each profile in the output's template.
    void resolveProfileVariables(ModelOutput& output) const;
    // The profile a descriptor's values belong to (through the profile
    // table, else through its template variable); -1 for none.  cache holds
    // the answers of the file by descriptor.
    int profileOf(int descriptor, std::vector<signed char>& cache) const;
    // Where a station's values are placed: a profile's components and other
    // values at the profile's index, a wind's direction and speed at slots
    // of their own.
    enum { DIRECTION_SLOT = NUM_PROFILES, SPEED_SLOT, NUM_SLOTS };
    // The slot of the value at i (preProcess places a wind's direction with
    // UWIND and its speed with VWIND, where the template has no variable of
    // their elements); -1 for no profile's.
    int placementSlot(int i) const;
    // The levels of one station's values: their roles, levels and counts.
    void placeStationLevels(const ReportReader& reader, StationLevels& station);
    // The roles of a station's directions and speeds, given the value placed
    // at each level of each slot (held, its index + 1): one without its
    // partner at its level is of a form the store does not hold; a pair
    // that differs from the components of its level is a second value.
    void pairWinds(const std::vector<int> (&held)[NUM_SLOTS]);
    // Whether the value is of a quantity the template holds only under
    // another element (HELD), which it is not stored as.
    bool isOtherForm(const BufrValues& value) const;
    // Whether the current model's template has a variable of the element.
    bool hasOwnVariable(int descriptor) const;
    // The levels (or soil layers, soil) that the current model's template
    // holds (INT_MAX where it has no level dimension), and the length of the
    // profiles written: those, or the file's largest count.
    int templateLevels(bool soil) const;
    int profileLength(bool soil) const;
    // The profiles of station s, built once per station.
    void buildStationProfiles(int s);
    // Marks the values of each station in another form of a quantity of one
    // value per record (STATION_FORM): given once by the station, outside
    // any delayed replication.
    void markStationForms(const ReportReader& reader);
    // A descriptor as the tables write it, with its table B name.
    static TextString namedElement(int descriptor);
    // The element whose variable takes a station value of descriptor in
    // another form (STATION_VALUES); 0 for none.
    static int stationFormInto(int descriptor);
    // Whether the value at i, converted, may be written into the variable
    // of one value per record (see storeValues); a different value after a
    // given one is named.
    bool firstGiven(int i, const TextString& variable, double value);
    // Notes a value of the station at hand that is not stored: its PROBLEM
    // line, and the reason the bulletin is set aside with (the first).
    void noteUnstored(int i, const TextString& station, int stationIndex);
    Model currentModel() const;
    // Gives the station's handle back (none held: true); false when the
    // store could not bring the station's values to disk.
    bool releaseCurrentHandle(int*& handle);

    int _numProfLvls = 0;
    int _numSoilLvls = 0;
    DataTime _notificationTime;
    TextString _stationId;
    bool _stationsLoaded = false;
    Set<TextString> _localStations;
    Dict<int, TextString> _profileDescriptors;
    ModelOutput _outputs[NUM_MODELS];
    ModelOutput* _current = nullptr;
    SeqOfPtr<int*> _handles;
    RecordWriter _writer;
    // The profiles of station _profilesOf (-1 for none).
    SeqOf<float> _stationProfiles[NUM_PROFILES];
    int _profilesOf = -1;
    SeqOf<int> _levelIndexes;
    // Per decoded value: its ValueRole and its profile (-1 for none).
    std::vector<unsigned char> _roles;
    std::vector<signed char> _valueProfiles;
    // Per decoded value: its slot (placementSlot).
    std::vector<signed char> _valueSlots;
    std::vector<StationLevels> _stations;
    // The file's largest level and soil layer counts.
    int _fileLevels = 0;
    int _fileSoilLayers = 0;
    // Why the bulletin is set aside once stored (a value not stored), and
    // the station whose levels past the template were last named.
    TextString _unstoredReason;
    int _beyondNamed = -1;
    // The variables of one value per record the station being stored gave
    // a value.
    FirstValues _given;
    TextString _modelName;
    TextString _dataTypeName;
    int _timeout = 36000;
    BulletinLog _bulletinLog;
    // The reason the file at hand was last said to be of another kind (its
    // later messages of that reason are set aside without a line of their
    // own).
    TextString _otherKindLogged;
};

#endif
