// The variables of one open netCDF data file that a storing pass writes
// into, each found by name once per file and written at a record in its own
// type: the one value writer of the wind and aircraft storing code.
//
// Numbers go into int (truncated toward zero, clamped to the int range),
// float and double variables at {record, 0, ...} of the variable's rank;
// texts into char variables as one whole row of the second dimension's
// width, padded with NUL bytes, so that a shorter text never keeps the tail
// of a longer one.  Other types are not written.
//
// Every operation answers with a netCDF status (NC_NOERR when done), so the
// caller logs its own line with nc_strerror.  The variables are forgotten
// when the pass moves to another file (useFile): an ncid may be reused by
// netCDF for another file after a close.
#ifndef RECORDVARIABLES_H
#define RECORDVARIABLES_H

#include "Dict.h"
#include "TextString.h"

#include <netcdf.h>

class RecordVariables {
public:
    struct Variable {
        int id = -1;
        nc_type type = NC_NAT;
        int rank = 0;
        // Characters of one row of a char variable of rank 2 or more; -1
        // when it has none or its dimension cannot be read.
        long width = -1;
    };

    // The file the next calls write into, by its ncid and its name.
    void useFile(int ncid, const TextString& fileName);
    int ncid() const { return _ncid; }

    // The variable of that name in the file (NC_ENOTVAR when it has none).
    int find(const TextString& name, Variable& variable);
    // A number at the record of a numeric variable; NC_EBADTYPE for a char
    // variable or another type.
    int putNumber(const Variable& variable, long record, double value) const;
    // A text of at most width characters as the record's row of a char
    // variable (of a char variable of the record dimension alone, its first
    // character); NC_EBADTYPE for another type or rank, NC_EEDGE for a text
    // longer than the row or a row of unknown width.
    int putText(const Variable& variable, long record, const TextString& text) const;

    // Whether the writes of a type go through putNumber.
    static bool isNumeric(nc_type type)
    {
        return type == NC_INT || type == NC_FLOAT || type == NC_DOUBLE;
    }

private:
    // The netCDF status of the last failed call of the layer underneath.
    static int lastError();

    int _ncid = -1;
    TextString _fileName;
    Dict<TextString, Variable> _variables;
};

#endif
