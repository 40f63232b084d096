// Writes realistic sample bulletins of a data type, for the demo and the
// end-to-end tests:
//
//     make_sample_bulletins TYPE OUT_DIR [--data DIR] [--time YYYYMMDDHH]
//                           [--stations N]
//
// TYPE is a data type of the table below; the bulletins are written into
// OUT_DIR (made when missing) under their WMO-style file names, and their
// names are printed one a line.  --data is the run-time data folder whose
// BUFR table B and station tables are used (default: the project's data/),
// --time the reference time (default 2024060112), --stations how many
// stations of the station table (default 6, 0 for all; for the profilers
// the stations of one bulletin).
//
// A data type joins with one line of the table of SampleMakers.h.
#include "SampleMakers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: make_sample_bulletins TYPE OUT_DIR [--data DIR] "
                         "[--time YYYYMMDDHH] [--stations N]\ntypes:");
    for (const SampleMaker& m : sampleMakers())
        std::fprintf(stderr, " %s", m.type);
    std::fprintf(stderr, "\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    SampleOptions options;
    options.dataDir = QEV_SOURCE_DIR "/data";
    for (int i = 3; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--data")) {
            options.dataDir = argv[i + 1];
        } else if (!std::strcmp(argv[i], "--stations")) {
            options.stations = std::atoi(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--time") &&
                   std::sscanf(argv[i + 1], "%4d%2d%2d%2d", &options.year, &options.month,
                               &options.day, &options.hour) == 4) {
        } else {
            return usage();
        }
    }
    if ((argc - 3) % 2)
        return usage();
    SampleMaker::Make make = nullptr;
    for (const SampleMaker& m : sampleMakers())
        if (!std::strcmp(m.type, argv[1]))
            make = m.make;
    if (!make)
        return usage();

    std::vector<SampleBulletin> bulletins;
    std::string error;
    if (!make(options, bulletins, error)) {
        std::fprintf(stderr, "make_sample_bulletins: %s\n", error.c_str());
        return 1;
    }
    const std::string dir = argv[2];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (const SampleBulletin& b : bulletins) {
        const std::string path = dir + "/" + b.name;
        std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.bytes.data()),
                  static_cast<std::streamsize>(b.bytes.size()));
        if (!out) {
            std::fprintf(stderr, "make_sample_bulletins: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", b.name.c_str());
    }
    return 0;
}
