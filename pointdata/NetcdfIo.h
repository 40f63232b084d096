// NetcdfIo: the one thin, typed layer through which the point-data store (and
// the storing code of the decoders) talks to netCDF.
//
// Why a layer: the version-2 C calls take untyped buffers and 'long' index
// arrays, so a read into an int of a double variable writes 8 bytes into 4,
// and an index array shorter than the variable's rank is read past its end;
// their default error options, and the legacy C++ classes' default error
// behaviour, end the process on the first failure.  This layer
//   - sets the version-2 error options to 0 before any call (a failure
//     returns -1 and prints nothing),
//   - runs every legacy C++ call (opening and deleting an NcFile) inside an
//     NcError(silent_nonfatal) scope,
//   - checks the variable's type against the C++ type of the buffer and its
//     rank against the NcPos given before every data call, and
//   - passes start, count and index arrays as 'long', as the calls declare.
//
// An ncid is whatever netCDF returns (a large number that netCDF reuses after
// a close); nothing here uses it as a table index.
//
// Every operation answers with a status (false, -1 or an empty text) and
// never throws or logs; the caller logs with its own category and text.
#ifndef NETCDFIO_H
#define NETCDFIO_H

#include "TextString.h"

#include <netcdf.h>

#include <initializer_list>
#include <string>

class NcFile;

// A start, count or index vector of a data call: its rank and up to
// MAX_RANK 'long' positions.
struct NcPos {
    enum { MAX_RANK = 4 };
    int rank;
    long v[MAX_RANK];

    NcPos() : rank(0), v{0, 0, 0, 0} {}
    NcPos(std::initializer_list<long> values);
};

class NetcdfIo {
public:
    struct VarInfo {
        TextString name;
        nc_type type = NC_NAT;
        int nDims = 0;
        int dims[NC_MAX_VAR_DIMS];
        int nAtts = 0;
    };

    // Sets the version-2 error options to 0.  Every constructor and file
    // operation of the layer calls it; it is idempotent and cheap.
    static void quietErrors();

    // Opens an existing file through the legacy C++ interface, read-only or
    // for writing.  Null when the file is not valid (the object is deleted);
    // status, when given, gets the netCDF status of the opening: a netCDF
    // status (negative) for what the file holds, an errno value when it
    // failed for a system reason (a read error too when a second open reads
    // the file whole).
    static NcFile* openFile(const TextString& path, bool write, int* status = nullptr);
    // Deletes (closes) a file object; null is ignored.
    static void deleteFile(NcFile* file);
    // Lowers the record count a classic-format file's header gives to
    // records, so that the records past it are no longer the file's (the
    // next record written past the count is made afresh, filled as netCDF
    // fills a new record).  The file must not be open in netCDF.  False,
    // with why, when it cannot be read or written, is not a classic file or
    // counts fewer records.
    static bool cutRecordCount(const TextString& path, long records, std::string& why);
    // The ncid of a valid file object, -1 for null or an invalid one.
    static int fileId(const NcFile* file);
    static bool isValid(const NcFile* file);

    explicit NetcdfIo(int ncid);
    int ncid() const { return _ncid; }

    // ncinquire: numbers of dimensions, variables and global attributes, and
    // the record dimension (-1 when the file has none).
    bool inquire(int& nDims, int& nVars, int& nAtts, int& recordDim) const;
    int varId(const char* name) const;            // -1 when missing
    int dimId(const char* name) const;            // -1 when missing
    long dimLength(int dimId) const;              // -1 when unreadable
    bool varInfo(int var, VarInfo& info) const;
    // The type of a variable; NC_NAT when it cannot be inquired.
    nc_type varType(int var) const;
    // The length of the record dimension, -1 when unreadable or absent.
    long recordCount() const;

    // Whether a global attribute of that name exists (any type).
    bool hasGlobalAttribute(const char* name) const;
    // A global integer attribute; only NC_INT of length 1 is read, anything
    // else counts as absent.
    bool intAttribute(const char* name, int& value) const;
    // A global text attribute of 1 to maxLength characters (NC_CHAR only).
    // 0 read, 1 absent or not a text of that length, 2 the read failed.
    int textAttribute(const char* name, int maxLength, TextString& value) const;
    // A text attribute of a variable (NC_CHAR only), up to its first NUL;
    // false when it is absent, of another type or unreadable.
    bool varTextAttribute(int var, const char* name, TextString& value) const;

    // Typed data calls: false when the variable's type is not the buffer's
    // (char NC_CHAR, signed char NC_BYTE, short NC_SHORT, int NC_INT, float
    // NC_FLOAT, double NC_DOUBLE), when the rank given differs from the
    // variable's, or when netCDF refuses the call.  A scalar variable takes
    // rank 0.
    template <class T>
    bool get1(int var, const NcPos& index, T& value) const;
    template <class T>
    bool put1(int var, const NcPos& index, const T& value) const;
    template <class T>
    bool get(int var, const NcPos& start, const NcPos& count, T* values) const;
    template <class T>
    bool put(int var, const NcPos& start, const NcPos& count, const T* values) const;

    // A number read or written in whatever numeric type the variable has
    // (byte, short, int, float or double); integers are truncated toward
    // zero on the way in.  False for char variables and failed calls.
    bool get1Number(int var, const NcPos& index, double& value) const;
    bool put1Number(int var, const NcPos& index, double value) const;

    // ncsync: commits what was written (or rereads what others wrote).
    bool sync() const;
    // The file's fill mode: "no fill" (NC_NOFILL) or "fill" (NC_FILL); the
    // netCDF status.
    int setFillMode(bool noFill) const;
    // Writes every record variable's fill value (its _FillValue, else
    // netCDF's default for its type) over one record, so that a record taken
    // again holds nothing of what was written into it before.
    bool fillRecord(long record) const;
    // The same over one record of one record variable.
    bool fillVariable(int var, long record) const;
    // The fill value of a numeric variable (its _FillValue, else netCDF's
    // default for its type); false for a char variable or a failed call.
    bool fillValue(int var, double& value) const;
    // The reason of the last failed version-2 call, read at once after it.
    static const char* lastErrorText();
    // The errno of the last failed version-2 call when it failed for a
    // reason of the system (a read or write of the file that failed), 0
    // when it failed for another reason or none failed since clearError.
    static int systemError();
    static void clearError();

private:
    // The variable has the type and rank a call needs.
    bool fits(int var, nc_type type, int rank) const;

    int _ncid;
};

#endif
