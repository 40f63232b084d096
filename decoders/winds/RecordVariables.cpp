#include "RecordVariables.h"

#include "NetcdfIo.h"

#include <vector>

void RecordVariables::useFile(int ncid, const TextString& fileName)
{
    if (ncid == _ncid && fileName == _fileName)
        return;
    _ncid = ncid;
    _fileName = fileName;
    _variables = Dict<TextString, Variable>();
}

int RecordVariables::find(const TextString& name, Variable& variable)
{
    if (_variables.find(name, nullptr, &variable))
        return NC_NOERR;
    Variable found;
    int status = nc_inq_varid(_ncid, name.c_str(), &found.id);
    if (status != NC_NOERR)
        return status;
    int dims[NC_MAX_VAR_DIMS];
    status = nc_inq_var(_ncid, found.id, nullptr, &found.type, &found.rank, dims, nullptr);
    if (status != NC_NOERR)
        return status;
    size_t width = 0;
    if (found.type == NC_CHAR && found.rank >= 2 &&
        nc_inq_dimlen(_ncid, dims[1], &width) == NC_NOERR)
        found.width = static_cast<long>(width);
    _variables.insert(name, found);
    variable = found;
    return NC_NOERR;
}

int RecordVariables::putNumber(const Variable& variable, long record, double value) const
{
    if (!isNumeric(variable.type) || variable.rank < 1 || variable.rank > NcPos::MAX_RANK)
        return NC_EBADTYPE;
    NcPos index;
    index.rank = variable.rank;
    index.v[0] = record;
    return NetcdfIo(_ncid).put1Number(variable.id, index, value) ? NC_NOERR : lastError();
}

int RecordVariables::putText(const Variable& variable, long record, const TextString& text) const
{
    if (variable.type == NC_CHAR && variable.rank == 1) {
        const char first = text.length() > 0 ? text[0] : '\0';
        return NetcdfIo(_ncid).put1(variable.id, NcPos{record}, first) ? NC_NOERR : lastError();
    }
    if (variable.type != NC_CHAR || variable.rank != 2)
        return NC_EBADTYPE;
    if (variable.width < 0 || text.length() > variable.width)
        return NC_EEDGE;
    std::vector<char> row(static_cast<size_t>(variable.width), '\0');
    for (int k = 0; k < text.length(); ++k)
        row[static_cast<size_t>(k)] = text[k];
    return NetcdfIo(_ncid).put(variable.id, NcPos{record, 0}, NcPos{1, variable.width}, row.data())
               ? NC_NOERR
               : lastError();
}

int RecordVariables::lastError()
{
    return ncerr != NC_NOERR ? ncerr : NC_EINVAL;
}
