// What a decoder's storing code logs about one bulletin as a whole.
//
// - Its PROBLEM lines stay bounded: a line that recurs per report, wind or
//   sounding is written at most LIMIT times per bulletin; the ones past that
//   are counted, and the end of the bulletin writes one line with the count:
//   the kind, then "... and 137 more for <path> (157 in all)".
//   A real bulletin of a thousand winds whose time group is not in its place
//   then writes a few dozen lines, not a thousand.
// - A bulletin dropped on purpose (none of its soundings lies in the
//   localization, it holds no data subset) gets one EVENT line naming the
//   file and the reason with its counts, before the flow unlinks it.
//
// Usage, per bulletin:
//     BulletinLog::Pass pass(_bulletinLog);       // begins; ends when it goes
//     if (_bulletinLog.admit("StoreX", "missing position"))
//         QEV_LOG(LogStream::PROBLEM, "StoreX") << ... << std::endl;
// The kind is a string literal naming the line (compared by its text); the
// closing line quotes it.
//
// Main thread only, like the storing code.
#ifndef BULLETINLOG_H
#define BULLETINLOG_H

#include "TextString.h"

#include <vector>

class BulletinLog {
public:
    // The lines of one kind written per bulletin.
    enum { LIMIT = 20 };

    // Begins a bulletin on construction and ends it on destruction.
    class Pass {
    public:
        explicit Pass(BulletinLog& log) : _log(log) { _log.begin(); }
        ~Pass() { _log.end(); }
        Pass(const Pass&) = delete;
        Pass& operator=(const Pass&) = delete;

    private:
        BulletinLog& _log;
    };

    // Forgets the counts of the bulletin before.
    void begin();
    // Counts a PROBLEM line of the kind, logged under the source name; true
    // while the bulletin has written fewer than LIMIT of them.
    bool admit(const char* source, const char* kind);
    // For each kind past LIMIT, one PROBLEM line: how many more there were.
    void end();
    // The lines of the kind counted in this bulletin (written or not).
    int count(const char* kind) const;

    // EVENT path + ": " + why, for a bulletin dropped on purpose; 0, the
    // result of a write that had nothing to store.
    static int dropped(const char* source, const TextString& why);
    // The path of the bulletin being handled (the decoder signal client's).
    static TextString bulletinPath();
    // A descriptor as the tables write it: "0 05 001" for 5001.
    static TextString descriptorText(int descriptor);
    // What a line and the set-aside reason say of a report whose time lies
    // past the last one a time holds.
    static constexpr const char* PAST_LIMIT =
        "lies past 2038-01-19 03:14:07, the last second a time holds";
    // The same of a report whose date lies before 1970.
    static constexpr const char* BEFORE_FIRST =
        "lies before 1970-01-01 00:00:00, the first second a time holds";

private:
    struct Kind {
        const char* source;
        const char* text;
        int count;
    };
    Kind* find(const char* kind);

    std::vector<Kind> _kinds;
};

#endif
