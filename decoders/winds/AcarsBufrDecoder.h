// The decoder of ACARS aircraft reports (data type key acars): the BUFR
// files of $QEV_DATA/ispan/bufr/acars whose names match "IUA.0[1|2]" into
// the point-data store $QEV_DATA/point/acars/netcdf, one record per
// observation of a report (data subset: the report itself, each of its
// levels, each further observation) keyed by the aircraft's tail number and
// the observation's time; each stored observation is notified with the
// product key 79.
//
// A report takes the tail number (0 01 008) and the time group (0 04 001 to
// 0 04 005, and 0 04 006 or 0 04 007 where the group has it, else 0 s) of
// its own subset, the first of each.  An observation's position is the
// high-accuracy latitude and longitude (0 05 001, 0 06 001) of its own, or
// where those are absent the coarse-accuracy ones (0 05 002, 0 06 002),
// which go into the same variables.  A subset's values fall into
// observations: one runs up to a latitude element of its accuracy or a
// height element (0 07 010, 0 10 070, 0 07 002, 0 07 007, 0 10 007) that
// it gives again, where the next begins, together with the time and height
// values right before that element (3 11 009's levels open with their
// flight level, 3 11 012's with their time and flight level, 3 11 010's
// turbulence observations with their time).
// - A report of levels: where the values before its first level (which
//   begins where the height given again was given first, as in 3 11 008,
//   else with the second observation) give none of that level's elements
//   but times and positions (the tail number, time, position and phase of
//   flight of 3 11 008, 3 11 009 and 3 11 012), they are what its levels
//   share.  Each level is an observation, the first the report's own: its
//   record holds the shared values, then its own over them, with its own
//   position and time (its time group or time of day) where it gives them,
//   else the report's.
// - Otherwise the first observation is the report's own and the others
//   are further observations of the same aircraft (3 11 010's turbulence
//   data), each with its own position, height and time, whose values never
//   land in the report's record.  A further observation is at its own time
//   group, or its time of day on the report's date (the day before or after
//   where that lies nearer the report).
// A report or observation without a tail number, time or position (of its
// own, or for a level its report's) is skipped with a PROBLEM line; a
// bulletin none of whose reports can be stored is set aside with a reason
// that names what they lack (the tail number 0 01 008, the time, the
// latitude and longitude).  Lines that recur per report are bounded per
// bulletin (BulletinLog).
//
// The record of an observation: the store keys records by tail number and
// time, and the reports carry their time to the minute or the second, so
// one aircraft climbing or descending reports several times within one
// time.  An observation is told apart by what its record holds of it
// beside the tail number and time: its position and its height (the first
// of 0 07 010, 0 10 070, 0 07 002, 0 07 007 and 0 10 007 that holds a
// value, the forms of a height the store holds (ElementForms); of these
// only the ones with a template variable).  The height's variable holds
// that height: another element of it that the observation gives (a height
// of its gust group) is not written over it, with a PROBLEM line where it
// gives another value.  An observation goes into the record
// of its tail number and time that holds its position and height (the
// same report delivered again: rewritten with the same values), or, when
// the aircraft has records at its time but none holds them, into a new
// record beside them, in the aircraft's chain of records like any other,
// so that reading by tail number or by time finds each of them.  A further
// observation whose record an earlier observation of the same bulletin
// took (levels of one height with nothing else to tell them apart) is
// skipped with a PROBLEM line, the earlier one's values kept.
// A record is placed (its tail number and time committed) before its
// values, which reach the disk when its handle is given back, the
// observation's height and position first; a process stopped in between
// leaves a record without a position.  Such a record of the aircraft at
// the observation's time, whose position and height variables hold the
// observation's values or nothing, is emptied and taken over by the
// observation, so that the report stored again leaves no record holding
// only its key, and nothing twice.
// An observation that gives its height in none of those elements, nor a
// pressure, but in another element (a geopotential height or geopotential,
// a height above the station, a satellite navigation altitude 0 10 053) is
// stored without it, and the bulletin set aside naming the element.
// Other values go into the template variables of their elements in the
// variable's unit (ElementUnits: 55 kt into "m s-1" as 28.29; a unit that
// cannot be converted is left out with a PROBLEM line, and the bulletin set
// aside once stored), but a relative
// humidity of exactly 0, which goes in as -99999; of the text elements only
// the flight number (0 01 006) and the ground receiving station (0 02 065)
// are written, as rows padded with NUL bytes, and a text longer than its
// row is refused.  "timeMdcrsHdr" receives the message's section 1 time,
// its fill value where section 1 gives no time the system holds.
// An observation's wind goes in as direction and speed: one that gives it
// as eastward and northward components (0 11 003, 0 11 004) has them turned
// into direction and speed (windForms), unless it gives the direction and
// speed themselves (both, or one of them while the components are not both
// given); of each element the observation's last value counts, as for the
// others (its own over those it shares), but a missing value never goes over
// a value it gave the same variable.
//
// The decoder stores messages of data category 4 (or of a category outside
// WMO's table A); a message of another category sets its bulletin aside
// with a reason naming it (windKinds), its other messages stored.
//
// The template dictionary is read once, at construction; while it is empty
// every directory pass logs "Unable to read template file" and leaves the
// files where they are.  A file name is accepted when one of the prefixes of
// "acarsBufrPattern.txt" occurs in it; there is no designator check, and no
// pause between files.  The constructor does not process the directory.
//
// Lines are logged under the source name "AcarsBufrDecoder".
#ifndef ACARSBUFRDECODER_H
#define ACARSBUFRDECODER_H

#include "AbsTime.h"
#include "BufrFileDecoder.h"
#include "BulletinLog.h"
#include "DescriptorNameCache.h"
#include "Dict.h"
#include "RecordWriter.h"
#include "SeqOf.h"
#include "SeqOfPtr.h"
#include "TextString.h"
#include "windTimeGroups.h"

#include <set>
#include <string>
#include <vector>

class NetcdfPointData;

class AcarsBufrDecoder : public BufrFileDecoder {
public:
    static Record acarsRecord();

    AcarsBufrDecoder();
    ~AcarsBufrDecoder() override;

    int getTimeout() const override { return _timeout; }
    TextString getPatternFileName() const override;
    TextString getDataTypeName() const override { return _dataTypeName; }
    void processBufrDirectory() override;
    int write2NetcdfFile() override;
    bool checkFileName(const TextString& name) override;
    using BufrDecoder::sendNotification;

    // ---- Storing (AcarsBufrDecoderStore.cpp) ----
    // One observation of a report: the report's own, or a further one.
    struct Observation {
        int subset = 0;
        int first = 0, end = 0;               // its values, [first, end)
        // The values its report gives once for all its levels, [shared,
        // sharedEnd): empty but for a level of a report of levels.
        int shared = 0, sharedEnd = 0;
        int latitude = -1, longitude = -1;    // the values of its position
        int height = -1;                      // the value of its height
        bool own = true;
        bool timed = false;
        AbsTime time;
        bool stored = false;
        // Where it was stored: the data file's name and the record.
        TextString file;
        int record = -1;

        bool isLevel() const { return sharedEnd > shared; }
        // Its values in the order they are stored: the shared ones, then
        // its own, which stand over them.
        template <class F>
        void forEachValue(F f) const
        {
            for (int i = shared; i < sharedEnd; ++i)
                f(i);
            for (int i = first; i < end; ++i)
                f(i);
        }
    };

    // 1 stored, -1 a failure (no tail number or time in the file, no store,
    // no report placed, an observation the store could not place or whose
    // values it could not bring to the disk; such one is not notified).
    int storeFile();
    // The observations of the decoded values, report by report, with their
    // positions and heights (not their times).
    void locateObservations();
    const std::vector<Observation>& observations() const { return _observations; }
    // The time of a further observation of a report at reportTime: its own
    // time group, or its time of day (0 04 004, 0 04 005, and 0 04 006 or
    // 0 04 007 where it has one) on the date nearest the report; TIME_GROUP_INVALID
    // for none, TIME_GROUP_PAST_LIMIT or TIME_GROUP_BEFORE_FIRST for one the
    // store cannot hold.
    TimeGroupStatus furtherObservationTime(const Observation& o, const AbsTime& reportTime,
                                           AbsTime& time) const;
    // The tail number of each report (subset), in order: the first 0 01 008
    // of the subset, empty when it has none.
    SeqOf<TextString> getTailNumbers() const;
    // The time of each report: the first time group of its subset; timed
    // tells which reports have one, unheld which have one the store cannot
    // hold (and so none): its status, TIME_GROUP_PAST_LIMIT or
    // TIME_GROUP_BEFORE_FIRST, else TIME_GROUP_OK.  Every year value that
    // begins a group is marked "Time".
    SeqOf<AbsTime> getTimeIds(SeqOf<bool>& timed, SeqOf<int>& unheld);
    // "Report 3: its time lies past ..." (further < 0) or "Observation 2 of
    // report 3: ...", the line and reason of an observation whose time lies
    // past the last one a time holds or before 1970 (status).
    static TextString unheldTimeText(int subset, int further, int status);
    // The handle of the record of the tail number and time; null after a
    // PROBLEM line.  newRecord, when given, tells whether the record is new.
    int* getHandle(const TextString& tailNumber, const AbsTime& time, int& record,
                   bool* newRecord = nullptr);
    // The handle and record of an observation (see above); existing tells
    // whether the record was there before.  Null after a PROBLEM line.
    int* placeObservation(const TextString& tailNumber, const Observation& o, int& record,
                          bool& existing);
    // Whether the record holds the observation's position and height, as
    // far as its variables hold them.
    bool holdsObservation(int ncid, int record, const Observation& o);
    // Whether the record is one a stopped store left before it wrote the
    // observation's position: its position variables hold nothing or the
    // observation's, its height variable nothing or the observation's, and
    // one of the position variables nothing.
    bool leftUnfinished(int ncid, int record, const Observation& o);
    // Writes the fill values over the record's variables of the template's
    // elements and "timeMdcrsHdr"; false when a write failed.
    bool emptyRecord(int ncid, int record);
    // Writes decoded value i at the record; false when it has no variable
    // to go to, its unit cannot be converted into the variable's, or it
    // could not be written.
    bool storeValues(int ncid, int record, int i);
    // The wind of an observation that gives it as components, as direction
    // and speed into their variables (see above); true when one was written.
    bool storeComponentWind(int ncid, int record, const Observation& o);
    bool isStationIdDescriptor(int i) const;
    // One value into the named variable by its type (int, float, double;
    // char takes the text).
    bool putValue(int ncid, const TextString& name, const TextString& text, float value,
                  int record);
    // The text as the record's row of the named char variable (of a char
    // variable of one dimension, its first character); a text longer than
    // the row is refused.  False after a PROBLEM line.
    bool putTextValue(int ncid, const TextString& name, int record, const TextString& text);
    // dmNotify(79) of an observation at t.
    bool sendNotification(const AbsTime& t);

    const TextString& storeDirectory() const { return _storeDir; }
    const Dict<TextString, TextString>& templateDict() const { return _templateDict; }
    // The handles taken for the file stored last.
    const SeqOfPtr<int*>& handles() const { return _handles; }

private:
    // What a record's variable holds of a key value (a position or height)
    // of an observation: it has no variable for it; it holds that value;
    // it holds its fill value; it holds another.
    enum KeyHeld { KEY_UNHELD, KEY_SAME, KEY_EMPTY, KEY_OTHER };
    KeyHeld keyHeld(int ncid, int record, int i);
    // The index of a position element (latitude 0, longitude 1, of high
    // accuracy; 2 and 3 of coarse accuracy), -1 for another one.
    static int positionIndex(int descriptor);
    // Where the observation whose latitude or height is value i begins:
    // there, or at the time and height values right before it (none of
    // them given twice in between), never at floor or before.
    int openingOf(int i, int floor) const;
    // Whether the values [from, to) give an element of [within, withinEnd)
    // other than a time or a position.
    bool givesAnyOf(int from, int to, int within, int withinEnd) const;
    // The observation's position and height: its own first, else those of
    // the values it shares.
    void locatePositionAndHeight(Observation& o) const;
    // The template variable of an element (a coarse position element's is
    // the high-accuracy one's); false when it has none, or when the
    // descriptor cannot be cached (tooLarge, after a PROBLEM line).
    bool variableOf(int descriptor, TextString& name, bool& tooLarge);
    // The reason a bulletin none of whose reports could be placed is set
    // aside with: what its reports lack.
    TextString unplacedReason(const SeqOf<TextString>& tails) const;
    // An observation that gives no height of the store's forms and no
    // pressure, but a height of another form, is named: the bulletin is set
    // aside once stored.
    void checkHeight(const Observation& o);
    // Gives back the handle of the report being stored, if any (none held:
    // true); false when the store could not bring its values to the disk.
    bool releaseHandle(int*& handle);

    TextString _storeDir;
    TextString _stationId;
    Dict<TextString, TextString> _templateDict;
    // The variable names of the descriptors met so far, from _templateDict.
    DescriptorNameCache _names;
    NetcdfPointData* _store = nullptr;    // owned by the point-data layer
    SeqOfPtr<int*> _handles;
    RecordWriter _writer;
    std::vector<Observation> _observations;
    // The observation whose values are being stored, and the variables it
    // gave a value that is not missing.
    const Observation* _storing = nullptr;
    std::set<std::string> _given;
    // Why the bulletin is set aside once its reports are stored: the first
    // value given that no record holds (a height of another form, a unit
    // that does not convert).
    TextString _asideReason;
    BulletinLog _bulletinLog;
    TextString _dataTypeName;
    int _timeout = 36000;
};

#endif
