// What the end-to-end tests of stored bulletins compare: the sample
// bulletins of a maker, and every record of a point directory's data files
// as a line of text.
#ifndef STOREDRECORDS_H
#define STOREDRECORDS_H

#include "DecoderInstallation.h"
#include "SampleBulletin.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

// The bulletins a sample maker makes from the project's run-time data.
inline std::vector<SampleBulletin> sampleBulletins(
    bool (*make)(const SampleOptions&, std::vector<SampleBulletin>&, std::string&))
{
    SampleOptions o;
    o.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    std::vector<SampleBulletin> all;
    std::string error;
    EXPECT_TRUE(make(o, all, error)) << error;
    return all;
}

// Every record of the data files of a point directory as a line: the file's
// name, then each record variable's values.  prevRecord, a record number,
// depends on the order the bulletins came in and is left out.
inline std::multiset<std::string> storedRecords(const DecoderInstallation& p,
                                                const std::string& pointDir)
{
    std::multiset<std::string> rows;
    for (const std::string& path : p.dataFiles(pointDir)) {
        int ncid = -1, nVars = 0, recordDim = -1;
        if (nc_open(path.c_str(), NC_NOWRITE, &ncid) != NC_NOERR) {
            ADD_FAILURE() << "cannot open " << path;
            continue;
        }
        nc_inq_nvars(ncid, &nVars);
        nc_inq_unlimdim(ncid, &recordDim);
        const size_t n = recordCount(ncid);
        std::vector<std::ostringstream> lines(n);
        for (size_t r = 0; r < n; ++r)
            lines[r] << std::filesystem::path(path).filename().string();
        for (int var = 0; var < nVars; ++var) {
            char name[NC_MAX_NAME + 1];
            nc_type type;
            int nDims = 0, dims[NC_MAX_VAR_DIMS];
            nc_inq_var(ncid, var, name, &type, &nDims, dims, nullptr);
            if (nDims == 0 || dims[0] != recordDim || std::string(name) == "prevRecord")
                continue;
            size_t width = 1, length = 0;
            for (int d = 1; d < nDims; ++d, width *= length)
                nc_inq_dimlen(ncid, dims[d], &length);
            if (n == 0)
                continue;
            if (type == NC_CHAR) {
                std::vector<char> text(n * width);
                EXPECT_EQ(nc_get_var_text(ncid, var, text.data()), NC_NOERR) << name;
                for (size_t r = 0; r < n; ++r)
                    lines[r] << " " << name << "=" << std::string(&text[r * width], width).c_str();
            } else {
                std::vector<double> values(n * width);
                EXPECT_EQ(nc_get_var_double(ncid, var, values.data()), NC_NOERR) << name;
                for (size_t r = 0; r < n; ++r) {
                    lines[r] << " " << name << "=";
                    for (size_t k = 0; k < width; ++k)
                        lines[r] << values[r * width + k] << ",";
                }
            }
        }
        nc_close(ncid);
        for (std::ostringstream& line : lines)
            rows.insert(line.str());
    }
    return rows;
}

#endif
