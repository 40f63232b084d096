// Cdl: makes a classic-format netCDF file from CDL text with ncgen, so that
// tests build their templates and data files from readable text.
//
//     QEV_REQUIRE_NCGEN();                       // skips without ncgen
//     std::string error;
//     ASSERT_TRUE(Cdl::make(cdlText, dir + "/template", &error)) << error;
//
// The CDL text goes to a file beside the output (path + ".cdl") that is
// removed again, so the output's folder must be writable.  ncgen runs as
// "ncgen -b -k classic -o <path> <path>.cdl", without a shell.
//
// Debian 12's ncgen crashes on a data section whose only record variables
// are char variables: give a numeric record variable data as well.
#ifndef CDL_H
#define CDL_H

#include <string>
#include <vector>

class Cdl {
public:
    // The ncgen the build found, when it is there and executable.
    static bool available();
    // Writes the classic file at path; false with ncgen's messages in error
    // (when given) on failure.  An existing file at path is replaced.
    static bool make(const std::string& cdl, const std::string& path, std::string* error = nullptr);
    // The point-data directories (below $QEV_DATA/point) a project template
    // names on its "// point directories:" line; none without that line.
    static std::vector<std::string> pointDirectories(const std::string& cdl);
};

// Skips the running test with a clear reason when ncgen is absent.
#define QEV_REQUIRE_NCGEN()                                                                   \
    do {                                                                                      \
        if (!Cdl::available())                                                                \
            GTEST_SKIP() << "ncgen not found; install netcdf-bin (scripts/setup) to run this " \
                            "test";                                                           \
    } while (0)

#endif
