// RecordWriter: the one writer of decoded values into the record variables
// of an open point-data file, used by the storing code of every decoder.
//
// A variable is found by name once per file and kept (its type, rank and
// the length of its second dimension) until the writer is given another
// file.  netCDF reuses an ncid after a close, so a file is known by its
// ncid and its path together.
//
// What goes where:
// - a number into an int (truncated toward zero, clamped to the int range),
//   float or double variable, at [record, index, 0, ...] of its rank (the
//   index only for a variable of two or more dimensions); byte and short
//   variables are not written;
// - a text into a char variable of two or more dimensions as the record's
//   whole row, padded with NUL bytes, so that a shorter text never keeps the
//   tail of a longer one.  A text longer than the row is cut to it or
//   refused, as the caller's rules say.  A char variable of the record
//   dimension alone takes the text's first character where the rules ask
//   for it, and nothing otherwise;
// - a profile into a numeric variable of (record, level, ...) as the
//   record's first levels; a profile longer than the level dimension keeps
//   the levels that fit.
//
// Failures are logged by the writer, PROBLEM lines under the caller's source
// name with the caller's texts, so that each decoder keeps its own lines.  A
// text is a template: %n the variable's name, %v its id, %r the record, %t
// the text, %c the profile's levels, %l the levels the variable holds, %e
// the netCDF reason.  A null text logs nothing.
//
// Main thread only, like the storing code.
#ifndef RECORDWRITER_H
#define RECORDWRITER_H

#include "Dict.h"
#include "TextString.h"

#include <netcdf.h>
#include <utility>

class RecordWriter {
public:
    // What a write did: the value is in the file; the variable takes no
    // such value (its type or rank), nothing written and nothing logged; or
    // the write failed, logged with the rules' text where there is one.
    enum Outcome { WRITTEN, SKIPPED, FAILED };

    struct Rules {
        const char* source;
        const char* noVariable;        // the file has no such variable
        const char* numberFailed;      // a number not written
        const char* countFailed;       // a record's count (of levels) not written
        const char* textFailed;        // a text not written
        const char* textWidthUnread;   // the row width of a char variable unknown
        const char* textRefused;       // a text longer than its row, not cut
        const char* profileFailed;     // a profile not written
        const char* profileCut;        // a profile longer than its variable
        bool cutLongText;              // a text longer than its row is cut to it
        bool firstCharacterAlone;      // a char variable of one dimension takes it
    };

    struct Variable {
        int id = -1;
        nc_type type = NC_NAT;
        int rank = 0;
        // The length of the second dimension (the row of a char variable,
        // the levels of a profile); -1 when there is none or it cannot be
        // read.
        long length = -1;
    };

    explicit RecordWriter(const Rules& rules);

    // The file the next writes go into; the variables found are forgotten
    // when it is another one.
    void useFile(int ncid, const TextString& path);
    // The file of that ncid: the one in use when it has that ncid, else a
    // file of unknown path.
    RecordWriter& at(int ncid);
    int ncid() const { return _ncid; }

    // The variable of that name; false after the noVariable line (none when
    // quiet).  record only names the record in that line.
    bool find(const TextString& name, Variable& variable, long record = 0, bool quiet = false);

    // The id of the variable of that name; -1 after the noVariable line.
    int varId(const TextString& name);
    // The "units" attribute of the variable of that name, read once per
    // file; false when it has none (or there is no such variable: nothing
    // is logged).
    bool units(const TextString& name, TextString& units);

    Outcome putNumber(const TextString& name, long record, double value, long index = 0);
    // A count of the record (of its levels): a number whose failure logs
    // the countFailed line.
    Outcome putCount(const TextString& name, long record, int count);
    Outcome putText(const TextString& name, long record, const TextString& text);
    Outcome putProfile(const TextString& name, long record, const float* values, long n);
    // The netCDF status of the last write that failed, NC_NOERR when the
    // last write succeeded.
    int lastStatus() const { return _status; }

private:
    struct Line;
    // Notes the failure and logs its line.
    Outcome failed(const char* text, const Line& line, int status);
    Outcome number(const char* failure, const TextString& name, long record, double value,
                   long index);

    Rules _rules;
    int _ncid = -1;
    TextString _path;
    Dict<TextString, Variable> _variables;
    // By variable: its units, or absent (false).
    Dict<TextString, std::pair<bool, TextString> > _units;
    int _status = NC_NOERR;
};

#endif
