#include "RecordWriter.h"

#include "LogStream.h"
#include "LogText.h"
#include "NetcdfIo.h"

#include <climits>
#include <cmath>
#include <vector>

// What a failure line may name.
struct RecordWriter::Line {
    const TextString* name = nullptr;
    int varId = -1;
    long record = 0;
    const TextString* text = nullptr;
    long levels = 0;
    long holds = 0;
};

namespace {

// The position [record, second, 0, ...] of a variable of that rank, and the
// count [1, n, 1, ...] of a row of n values along its second dimension;
// false for a rank the typed layer does not take.
bool rowPosition(int rank, long record, long second, long n, NcPos& start, NcPos& count)
{
    if (rank < 1 || rank > NcPos::MAX_RANK)
        return false;
    start.rank = count.rank = rank;
    for (int i = 0; i < rank; ++i) {
        start.v[i] = i == 0 ? record : i == 1 ? second : 0;
        count.v[i] = i == 1 ? n : 1;
    }
    return true;
}

bool isNumeric(nc_type type)
{
    return type == NC_INT || type == NC_FLOAT || type == NC_DOUBLE;
}

int clampedInt(float value)
{
    if (value != value)
        return 0;
    if (value <= static_cast<float>(INT_MIN))
        return INT_MIN;
    if (value >= 2147483647.0f)
        return INT_MAX;
    return static_cast<int>(value);
}

} // namespace

RecordWriter::RecordWriter(const Rules& rules) : _rules(rules) {}

void RecordWriter::useFile(int ncid, const TextString& path)
{
    if (ncid == _ncid && path == _path)
        return;
    _ncid = ncid;
    _path = path;
    _variables = Dict<TextString, Variable>();
    _units = Dict<TextString, std::pair<bool, TextString> >();
}

RecordWriter& RecordWriter::at(int ncid)
{
    if (ncid != _ncid)
        useFile(ncid, TextString());
    return *this;
}

RecordWriter::Outcome RecordWriter::failed(const char* text, const Line& line, int status)
{
    _status = status;
    if (!text)
        return FAILED;
    const char* reason =
        status != NC_NOERR ? nc_strerror(status) : "variable of another type or shape";
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c != '%' || !c[1]) {
            out += *c;
            continue;
        }
        switch (*++c) {
        case 'n':
            if (line.name)
                out += LogText(*line.name).escaped();
            break;
        case 'v':
            out += std::to_string(line.varId);
            break;
        case 'r':
            out += std::to_string(line.record);
            break;
        case 't':
            // A text the bulletin gave.
            if (line.text)
                out += LogText(*line.text).escaped();
            break;
        case 'c':
            out += std::to_string(line.levels);
            break;
        case 'l':
            out += std::to_string(line.holds);
            break;
        case 'e':
            out += reason;
            break;
        default:
            out += '%';
            out += *c;
        }
    }
    QEV_LOG(LogStream::PROBLEM, _rules.source) << out << std::endl;
    return FAILED;
}

bool RecordWriter::find(const TextString& name, Variable& variable, long record, bool quiet)
{
    if (_variables.find(name, nullptr, &variable))
        return true;
    Variable found;
    int dims[NC_MAX_VAR_DIMS];
    int status = nc_inq_varid(_ncid, name.c_str(), &found.id);
    if (status == NC_NOERR)
        status = nc_inq_var(_ncid, found.id, nullptr, &found.type, &found.rank, dims, nullptr);
    if (status != NC_NOERR) {
        Line line;
        line.name = &name;
        line.record = record;
        failed(quiet ? nullptr : _rules.noVariable, line, status);
        return false;
    }
    if (found.rank >= 2)
        found.length = NetcdfIo(_ncid).dimLength(dims[1]);
    _variables.insert(name, found);
    variable = found;
    return true;
}

int RecordWriter::varId(const TextString& name)
{
    Variable v;
    return find(name, v) ? v.id : -1;
}

bool RecordWriter::units(const TextString& name, TextString& units)
{
    std::pair<bool, TextString> known;
    if (!_units.find(name, nullptr, &known)) {
        Variable v;
        known.first = find(name, v, 0, true) &&
                      NetcdfIo(_ncid).varTextAttribute(v.id, "units", known.second);
        _units.insert(name, known);
    }
    units = known.second;
    return known.first;
}

RecordWriter::Outcome RecordWriter::putNumber(const TextString& name, long record, double value,
                                              long index)
{
    return number(_rules.numberFailed, name, record, value, index);
}

RecordWriter::Outcome RecordWriter::putCount(const TextString& name, long record, int count)
{
    return number(_rules.countFailed, name, record, count, 0);
}

RecordWriter::Outcome RecordWriter::number(const char* failure, const TextString& name,
                                           long record, double value, long index)
{
    Variable v;
    if (!find(name, v, record))
        return FAILED;
    if (!isNumeric(v.type))
        return SKIPPED;
    NcPos at, count;
    ncerr = NC_NOERR;
    if (rowPosition(v.rank, record, index, 1, at, count) &&
        NetcdfIo(_ncid).put1Number(v.id, at, value)) {
        _status = NC_NOERR;
        return WRITTEN;
    }
    Line line;
    line.name = &name;
    line.varId = v.id;
    line.record = record;
    return failed(failure, line, ncerr);
}

RecordWriter::Outcome RecordWriter::putText(const TextString& name, long record,
                                            const TextString& text)
{
    Variable v;
    if (!find(name, v, record))
        return FAILED;
    if (v.type != NC_CHAR || v.rank < 1 || (v.rank == 1 && !_rules.firstCharacterAlone))
        return SKIPPED;
    Line line;
    line.name = &name;
    line.varId = v.id;
    line.record = record;
    line.text = &text;
    const NetcdfIo io(_ncid);
    ncerr = NC_NOERR;
    bool ok = false;
    if (v.rank == 1) {
        ok = io.put1(v.id, NcPos{record}, text.length() > 0 ? text[0] : '\0');
    } else {
        if (v.length <= 0)
            return failed(_rules.textWidthUnread, line, NC_EBADDIM);
        if (text.length() > v.length && !_rules.cutLongText)
            return failed(_rules.textRefused, line, NC_EEDGE);
        std::vector<char> row(static_cast<size_t>(v.length), '\0');
        for (long k = 0; k < v.length && k < text.length(); ++k)
            row[static_cast<size_t>(k)] = text[static_cast<int>(k)];
        NcPos start, count;
        ok = rowPosition(v.rank, record, 0, v.length, start, count) &&
             io.put(v.id, start, count, row.data());
    }
    if (!ok)
        return failed(_rules.textFailed, line, ncerr);
    _status = NC_NOERR;
    return WRITTEN;
}

RecordWriter::Outcome RecordWriter::putProfile(const TextString& name, long record,
                                               const float* values, long n)
{
    Variable v;
    if (!find(name, v, record))
        return FAILED;
    Line line;
    line.name = &name;
    line.varId = v.id;
    line.record = record;
    line.levels = n;
    line.holds = v.length;
    if (v.rank < 2 || v.length < 0)
        return failed(_rules.profileFailed, line, v.rank < 2 ? NC_NOERR : NC_EBADDIM);
    if (n > v.length) {
        failed(_rules.profileCut, line, NC_EEDGE);
        n = v.length;
    }
    const NetcdfIo io(_ncid);
    NcPos start, count;
    bool ok = false;
    ncerr = NC_NOERR;
    if (n > 0 && rowPosition(v.rank, record, 0, n, start, count)) {
        switch (v.type) {
        case NC_FLOAT:
            ok = io.put(v.id, start, count, values);
            break;
        case NC_DOUBLE: {
            const std::vector<double> wide(values, values + n);
            ok = io.put(v.id, start, count, wide.data());
            break;
        }
        case NC_INT: {
            std::vector<int> whole(static_cast<size_t>(n));
            for (long j = 0; j < n; ++j)
                whole[static_cast<size_t>(j)] = clampedInt(values[j]);
            ok = io.put(v.id, start, count, whole.data());
            break;
        }
        default:
            break;
        }
    }
    if (!ok)
        return failed(_rules.profileFailed, line, ncerr);
    _status = NC_NOERR;
    return WRITTEN;
}
