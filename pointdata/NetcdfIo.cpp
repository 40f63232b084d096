#include "NetcdfIo.h"

#include "SafeDirectory.h"

#include <fcntl.h>
#include <netcdfcpp.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

template <class T>
struct NcTypeOf;
template <>
struct NcTypeOf<char> {
    static constexpr nc_type value = NC_CHAR;
};
template <>
struct NcTypeOf<signed char> {
    static constexpr nc_type value = NC_BYTE;
};
template <>
struct NcTypeOf<short> {
    static constexpr nc_type value = NC_SHORT;
};
template <>
struct NcTypeOf<int> {
    static constexpr nc_type value = NC_INT;
};
template <>
struct NcTypeOf<float> {
    static constexpr nc_type value = NC_FLOAT;
};
template <>
struct NcTypeOf<double> {
    static constexpr nc_type value = NC_DOUBLE;
};

// A double converted into an integer type, truncated toward zero and clamped
// to the type's range; NaN gives 0.
template <class T>
T truncated(double value, double lo, double hi)
{
    if (std::isnan(value))
        return 0;
    if (value < lo)
        return static_cast<T>(lo);
    if (value > hi)
        return static_cast<T>(hi);
    return static_cast<T>(value);
}

} // namespace

NcPos::NcPos(std::initializer_list<long> values) : rank(0), v{0, 0, 0, 0}
{
    for (long x : values) {
        if (rank == MAX_RANK) {
            // More positions than any call here takes: unusable.
            rank = MAX_RANK + 1;
            return;
        }
        v[rank++] = x;
    }
}

void NetcdfIo::quietErrors() { ncopts = 0; }

NcFile* NetcdfIo::openFile(const TextString& path, bool write, int* status)
{
    quietErrors();
    NcError silent(NcError::silent_nonfatal);
    NcFile* file = nullptr;
    if (status)
        *status = NC_NOERR;
    // The file is opened here first, its directory a part at a time: never
    // through a link or another user's directory laid in place of a part of
    // its path, never blocking on a FIFO laid at its name, and for writing
    // only a regular file of the store's own.  netCDF then opens what was
    // opened, through its descriptor's name in /proc (the path itself where
    // /proc is missing).
    std::string why;
    const int fd =
        SafeDirectory::openFile(path.c_str(), O_RDONLY | O_NONBLOCK, 0,
                                write ? SafeDirectory::REGULAR_FILE : SafeDirectory::READ_FILE, why);
    if (fd < 0) {
        if (status)
            *status = errno;   // a system error, as netCDF gives one
        return nullptr;
    }
    char opened[64];
    std::snprintf(opened, sizeof opened, "/proc/self/fd/%d", fd);
    const char* name = access(opened, F_OK) == 0 ? opened : path.c_str();
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    try {
        file = new NcFile(name, write ? NcFile::Write : NcFile::ReadOnly);
    } catch (...) {
        if (status)
            *status = NC_ENOMEM;
        return nullptr;
    }
    if (!file->is_valid()) {
        const int failed = errno;
        delete file;
        if (status) {
            // The C++ file object keeps no reason for a failed open: the C
            // open, tried again, gives it (the system's error for a system
            // failure).  A file the second open reads whole holds a netCDF
            // file: the first failed for a reason of the system (a read
            // error), which errno kept.
            int ncid = -1;
            *status = nc_open(name, write ? NC_WRITE : NC_NOWRITE, &ncid);
            if (*status == NC_NOERR) {
                nc_close(ncid);
                *status = failed > 0 && failed != ENOENT ? failed : EIO;
            }
        }
        return nullptr;
    }
    return file;
}

void NetcdfIo::deleteFile(NcFile* file)
{
    if (!file)
        return;
    quietErrors();
    NcError silent(NcError::silent_nonfatal);
    delete file;
}

int NetcdfIo::fileId(const NcFile* file)
{
    if (!isValid(file))
        return -1;
    NcError silent(NcError::silent_nonfatal);
    return file->id();
}

bool NetcdfIo::isValid(const NcFile* file)
{
    if (!file)
        return false;
    NcError silent(NcError::silent_nonfatal);
    return file->is_valid();
}

NetcdfIo::NetcdfIo(int ncid) : _ncid(ncid) { quietErrors(); }

bool NetcdfIo::inquire(int& nDims, int& nVars, int& nAtts, int& recordDim) const
{
    return ncinquire(_ncid, &nDims, &nVars, &nAtts, &recordDim) != -1;
}

int NetcdfIo::varId(const char* name) const
{
    int id = ncvarid(_ncid, name);
    return id < 0 ? -1 : id;
}

int NetcdfIo::dimId(const char* name) const
{
    int id = ncdimid(_ncid, name);
    return id < 0 ? -1 : id;
}

long NetcdfIo::dimLength(int dimId) const
{
    if (dimId < 0)
        return -1;
    long length = 0;
    if (ncdiminq(_ncid, dimId, nullptr, &length) == -1 || length < 0)
        return -1;
    return length;
}

bool NetcdfIo::varInfo(int var, VarInfo& info) const
{
    if (var < 0)
        return false;
    char name[NC_MAX_NAME + 1];
    name[0] = '\0';
    if (ncvarinq(_ncid, var, name, &info.type, &info.nDims, info.dims, &info.nAtts) == -1)
        return false;
    info.name = name;
    return true;
}

nc_type NetcdfIo::varType(int var) const
{
    nc_type type = NC_NAT;
    if (var < 0 || nc_inq_vartype(_ncid, var, &type) != NC_NOERR)
        return NC_NAT;
    return type;
}

bool NetcdfIo::cutRecordCount(const TextString& path, long records, std::string& why)
{
    const int fd = SafeDirectory::openFile(path.c_str(), O_RDWR | O_NONBLOCK, 0,
                                           SafeDirectory::REGULAR_FILE, why);
    if (fd < 0)
        return false;
    // "CDF", the version byte, then the record count, big-endian: 4 bytes
    // in versions 1 and 2, 8 in version 5.
    unsigned char head[12];
    bool ok = pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head);
    if (!ok)
        why = std::string("its header could not be read: ") + std::strerror(errno);
    const int width = !ok ? 0 : head[3] == 5 ? 8 : head[3] == 1 || head[3] == 2 ? 4 : 0;
    if (ok && (std::memcmp(head, "CDF", 3) != 0 || width == 0)) {
        why = "it is not a classic netCDF file";
        ok = false;
    }
    unsigned long long held = 0;
    for (int i = 0; ok && i < width; ++i)
        held = held << 8 | head[4 + i];
    // All ones: a file being streamed, with no count of its own.
    if (ok && (records < 0 || held < static_cast<unsigned long long>(records) ||
               (width == 4 && held == 0xFFFFFFFFull))) {
        why = "its header counts " + std::to_string(held) + " records";
        ok = false;
    }
    if (ok) {
        unsigned char count[8];
        for (int i = 0; i < width; ++i)
            count[i] = static_cast<unsigned char>(
                static_cast<unsigned long long>(records) >> (8 * (width - 1 - i)));
        ok = pwrite(fd, count, static_cast<size_t>(width), 4) == width;
        if (!ok)
            why = std::string("its header could not be written: ") + std::strerror(errno);
    }
    if (close(fd) != 0 && ok) {
        why = std::string("its header could not be written: ") + std::strerror(errno);
        ok = false;
    }
    return ok;
}

long NetcdfIo::recordCount() const
{
    int nDims = 0, nVars = 0, nAtts = 0, recordDim = -1;
    if (!inquire(nDims, nVars, nAtts, recordDim) || recordDim < 0)
        return -1;
    return dimLength(recordDim);
}

bool NetcdfIo::hasGlobalAttribute(const char* name) const
{
    nc_type type;
    int length = 0;
    return ncattinq(_ncid, NC_GLOBAL, name, &type, &length) != -1;
}

bool NetcdfIo::intAttribute(const char* name, int& value) const
{
    nc_type type;
    int length = 0;
    if (ncattinq(_ncid, NC_GLOBAL, name, &type, &length) == -1 || type != NC_INT || length != 1)
        return false;
    int read = 0;
    if (ncattget(_ncid, NC_GLOBAL, name, &read) == -1)
        return false;
    value = read;
    return true;
}

int NetcdfIo::textAttribute(const char* name, int maxLength, TextString& value) const
{
    nc_type type;
    int length = 0;
    if (ncattinq(_ncid, NC_GLOBAL, name, &type, &length) == -1 || type != NC_CHAR || length < 1 ||
        length > maxLength)
        return 1;
    std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
    if (ncattget(_ncid, NC_GLOBAL, name, text.data()) == -1)
        return 2;
    text[static_cast<size_t>(length)] = '\0';
    value = text.data();
    return 0;
}

bool NetcdfIo::varTextAttribute(int var, const char* name, TextString& value) const
{
    nc_type type = NC_NAT;
    size_t length = 0;
    if (var < 0 || nc_inq_att(_ncid, var, name, &type, &length) != NC_NOERR || type != NC_CHAR)
        return false;
    std::vector<char> text(length + 1, '\0');
    if (length > 0 && nc_get_att_text(_ncid, var, name, text.data()) != NC_NOERR)
        return false;
    value = text.data();
    return true;
}

bool NetcdfIo::fits(int var, nc_type type, int rank) const
{
    if (var < 0 || rank < 0 || rank > NcPos::MAX_RANK)
        return false;
    nc_type actual = NC_NAT;
    int nDims = -1;
    if (nc_inq_vartype(_ncid, var, &actual) != NC_NOERR ||
        nc_inq_varndims(_ncid, var, &nDims) != NC_NOERR)
        return false;
    return actual == type && nDims == rank;
}

template <class T>
bool NetcdfIo::get1(int var, const NcPos& index, T& value) const
{
    if (!fits(var, NcTypeOf<T>::value, index.rank))
        return false;
    return ncvarget1(_ncid, var, index.v, &value) != -1;
}

template <class T>
bool NetcdfIo::put1(int var, const NcPos& index, const T& value) const
{
    if (!fits(var, NcTypeOf<T>::value, index.rank))
        return false;
    return ncvarput1(_ncid, var, index.v, &value) != -1;
}

template <class T>
bool NetcdfIo::get(int var, const NcPos& start, const NcPos& count, T* values) const
{
    if (start.rank != count.rank || !fits(var, NcTypeOf<T>::value, start.rank))
        return false;
    return ncvarget(_ncid, var, start.v, count.v, values) != -1;
}

template <class T>
bool NetcdfIo::put(int var, const NcPos& start, const NcPos& count, const T* values) const
{
    if (start.rank != count.rank || !fits(var, NcTypeOf<T>::value, start.rank))
        return false;
    return ncvarput(_ncid, var, start.v, count.v, values) != -1;
}

namespace {

// One element of a numeric variable read in its own type T, as a double.
template <class T>
bool getAsDouble(const NetcdfIo& io, int var, const NcPos& index, double& value)
{
    T x;
    if (!io.get1(var, index, x))
        return false;
    value = static_cast<double>(x);
    return true;
}

} // namespace

bool NetcdfIo::get1Number(int var, const NcPos& index, double& value) const
{
    switch (varType(var)) {
    case NC_BYTE:
        return getAsDouble<signed char>(*this, var, index, value);
    case NC_SHORT:
        return getAsDouble<short>(*this, var, index, value);
    case NC_INT:
        return getAsDouble<int>(*this, var, index, value);
    case NC_FLOAT:
        return getAsDouble<float>(*this, var, index, value);
    case NC_DOUBLE:
        return get1(var, index, value);
    default:
        return false;
    }
}

bool NetcdfIo::put1Number(int var, const NcPos& index, double value) const
{
    switch (varType(var)) {
    case NC_BYTE:
        return put1(var, index, truncated<signed char>(value, -128.0, 127.0));
    case NC_SHORT:
        return put1(var, index, truncated<short>(value, -32768.0, 32767.0));
    case NC_INT:
        return put1(var, index, truncated<int>(value, -2147483648.0, 2147483647.0));
    case NC_FLOAT:
        return put1(var, index, static_cast<float>(value));
    case NC_DOUBLE:
        return put1(var, index, value);
    default:
        return false;
    }
}

bool NetcdfIo::sync() const { return ncsync(_ncid) != -1; }

int NetcdfIo::setFillMode(bool noFill) const
{
    int previous = 0;
    return nc_set_fill(_ncid, noFill ? NC_NOFILL : NC_FILL, &previous);
}

void NetcdfIo::clearError() { ncerr = NC_NOERR; }

int NetcdfIo::systemError()
{
    return ncerr > 0 ? ncerr : ncerr == NC_SYSERR ? errno : 0;
}

const char* NetcdfIo::lastErrorText()
{
    // A failed system call is NC_SYSERR there, its cause in errno.
    return ncerr == NC_SYSERR ? std::strerror(errno) : nc_strerror(ncerr);
}

bool NetcdfIo::fillRecord(long record) const
{
    int nVars = 0, recordDim = -1;
    if (record < 0 || nc_inq_nvars(_ncid, &nVars) != NC_NOERR ||
        nc_inq_unlimdim(_ncid, &recordDim) != NC_NOERR || recordDim < 0)
        return false;
    for (int var = 0; var < nVars; ++var) {
        int nDims = 0;
        int dims[NC_MAX_VAR_DIMS];
        if (nc_inq_var(_ncid, var, nullptr, nullptr, &nDims, dims, nullptr) != NC_NOERR)
            return false;
        if (nDims > 0 && dims[0] == recordDim && !fillVariable(var, record))
            return false;
    }
    return true;
}

bool NetcdfIo::fillVariable(int var, long record) const
{
    int recordDim = -1;
    nc_type type = NC_NAT;
    int nDims = 0;
    int dims[NC_MAX_VAR_DIMS];
    if (record < 0 || nc_inq_unlimdim(_ncid, &recordDim) != NC_NOERR || recordDim < 0 ||
        nc_inq_var(_ncid, var, nullptr, &type, &nDims, dims, nullptr) != NC_NOERR ||
        nDims == 0 || dims[0] != recordDim)
        return false;
    size_t start[NC_MAX_VAR_DIMS] = {static_cast<size_t>(record)};
    size_t count[NC_MAX_VAR_DIMS] = {1};
    size_t values = 1;
    for (int d = 1; d < nDims; ++d) {
        if (nc_inq_dimlen(_ncid, dims[d], &count[d]) != NC_NOERR)
            return false;
        values *= count[d];
    }
    // Classic types are 1 to 8 bytes wide.
    size_t width = 0;
    unsigned char fill[8];
    int noFill = 0;
    if (nc_inq_type(_ncid, type, nullptr, &width) != NC_NOERR || width == 0 ||
        width > sizeof fill || nc_inq_var_fill(_ncid, var, &noFill, fill) != NC_NOERR)
        return false;
    if (values == 0)
        return true;
    std::vector<unsigned char> row(values * width);
    for (size_t i = 0; i < values; ++i)
        std::memcpy(&row[i * width], fill, width);
    return nc_put_vara(_ncid, var, start, count, row.data()) == NC_NOERR;
}

bool NetcdfIo::fillValue(int var, double& value) const
{
    union {
        signed char b;
        short s;
        int i;
        float f;
        double d;
    } fill;
    int noFill = 0;
    if (nc_inq_var_fill(_ncid, var, &noFill, &fill) != NC_NOERR)
        return false;
    switch (varType(var)) {
    case NC_BYTE:
        value = fill.b;
        return true;
    case NC_SHORT:
        value = fill.s;
        return true;
    case NC_INT:
        value = fill.i;
        return true;
    case NC_FLOAT:
        value = fill.f;
        return true;
    case NC_DOUBLE:
        value = fill.d;
        return true;
    default:
        return false;
    }
}

template bool NetcdfIo::get1<char>(int, const NcPos&, char&) const;
template bool NetcdfIo::get1<signed char>(int, const NcPos&, signed char&) const;
template bool NetcdfIo::get1<short>(int, const NcPos&, short&) const;
template bool NetcdfIo::get1<int>(int, const NcPos&, int&) const;
template bool NetcdfIo::get1<float>(int, const NcPos&, float&) const;
template bool NetcdfIo::get1<double>(int, const NcPos&, double&) const;
template bool NetcdfIo::put1<char>(int, const NcPos&, const char&) const;
template bool NetcdfIo::put1<signed char>(int, const NcPos&, const signed char&) const;
template bool NetcdfIo::put1<short>(int, const NcPos&, const short&) const;
template bool NetcdfIo::put1<int>(int, const NcPos&, const int&) const;
template bool NetcdfIo::put1<float>(int, const NcPos&, const float&) const;
template bool NetcdfIo::put1<double>(int, const NcPos&, const double&) const;
template bool NetcdfIo::get<char>(int, const NcPos&, const NcPos&, char*) const;
template bool NetcdfIo::get<signed char>(int, const NcPos&, const NcPos&, signed char*) const;
template bool NetcdfIo::get<short>(int, const NcPos&, const NcPos&, short*) const;
template bool NetcdfIo::get<int>(int, const NcPos&, const NcPos&, int*) const;
template bool NetcdfIo::get<float>(int, const NcPos&, const NcPos&, float*) const;
template bool NetcdfIo::get<double>(int, const NcPos&, const NcPos&, double*) const;
template bool NetcdfIo::put<char>(int, const NcPos&, const NcPos&, const char*) const;
template bool NetcdfIo::put<signed char>(int, const NcPos&, const NcPos&, const signed char*) const;
template bool NetcdfIo::put<short>(int, const NcPos&, const NcPos&, const short*) const;
template bool NetcdfIo::put<int>(int, const NcPos&, const NcPos&, const int*) const;
template bool NetcdfIo::put<float>(int, const NcPos&, const NcPos&, const float*) const;
template bool NetcdfIo::put<double>(int, const NcPos&, const NcPos&, const double*) const;
