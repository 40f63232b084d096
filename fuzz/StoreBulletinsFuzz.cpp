// Each data type's storing code on fuzzed bulletins.  The first byte of the
// input (the selector) picks a decoder of the registration table
// (fuzz/CMakeLists.txt, QEV_FUZZ_STORE_DECODERS) and one of the file-name
// designators registered with it; the rest is the bulletin.  A new decoder
// of that type takes the bulletin as a file of its ingest directory, named
// by the designator, through its own directory pass: the name check, the
// decode and write2NetcdfFile into the point-data stores of the scratch
// installation (FuzzEnvironment::installStore), then the file's unlink or
// move into the bad-file directory.  So every positional read and write of
// the decoder runs against real netCDF files made from the project's
// templates.
//
// Selector s: decoder s % n of the n registered, designator
// (s / n) % (its designators).
//
// Every input starts from the same state: after it, the decoder is deleted,
// every store closed and forgotten, and the data files, the ingest and the
// bad-file directories emptied (the templates stay).  No pause: neither the
// flow's pause after a file nor the store's second before naming a new data
// file.  The sounding decoders' clock is fixed, so that a time is judged
// the same on every run.
//
// Checked beyond the sanitizers: the pass takes the file out of the ingest
// directory.
//
// The harness is built only when at least one decoder is registered.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "BufrFileDecoder.h"
#include "FuzzEnvironment.h"
#include "NetcdfPointData.h"
#include "SatelliteSoundingDecoder.h"
#include "StoreClock.h"
#include "TextString.h"
#include "storeDecoderIncludes.inc"

namespace fs = std::filesystem;

namespace {

struct StoreDecoder {
    const char* name;
    BufrFileDecoder* (*make)();
    std::vector<const char*> designators;
};

#define QEV_STORE_DECODER(Class, ...) \
    {#Class, []() -> BufrFileDecoder* { return new Class; }, {__VA_ARGS__}},
const StoreDecoder decoders[] = {
#include "storeDecoderTable.inc"
};
#undef QEV_STORE_DECODER

const int decoderCount = static_cast<int>(sizeof decoders / sizeof decoders[0]);

// The ingest and bad-file directories of every registered decoder.
std::vector<std::string> flowDirs;

int noPause(unsigned long) { return 0; }
void noStorePause(int) {}
// 2024-06-02 00:00 UTC: the sample bulletins' day and the one before lie
// behind it.
int32_t soundingClock() { return 1717286400; }

// Back to the installed state: no store, no data file, no file in any ingest
// or bad-file directory.
void resetState()
{
    NetcdfPointData::forgetAllStores();
    for (const std::string& dir : FuzzEnvironment::pointDirs())
        FuzzEnvironment::clearDirectory(dir);
    for (const std::string& dir : flowDirs)
        FuzzEnvironment::clearDirectory(dir);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    FuzzEnvironment::installStore();
    BufrFileDecoder::setSleeper(noPause);
    StoreClock::set(nullptr, noStorePause);
    SatelliteSoundingDecoder::setClock(soundingClock);
    for (const StoreDecoder& type : decoders) {
        if (type.designators.empty())
            FuzzEnvironment::fail("store_bulletins",
                                  std::string(type.name) + " has no file-name designator");
        std::unique_ptr<BufrFileDecoder> decoder(type.make());
        for (const TextString& dir : {decoder->ingestDir(), decoder->badDir()}) {
            std::error_code ec;
            fs::create_directories(dir.c_str(), ec);
            if (ec)
                FuzzEnvironment::fail("store_bulletins", std::string("cannot make ") + dir.c_str());
            flowDirs.push_back(dir.c_str());
        }
    }
    resetState();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const StoreDecoder& type = decoders[data[0] % decoderCount];
    const size_t designator = static_cast<size_t>(data[0] / decoderCount) % type.designators.size();
    const std::string name = std::string(type.designators[designator]) + "_KWBC_fuzz";

    std::unique_ptr<BufrFileDecoder> decoder(type.make());
    const std::string path = std::string(decoder->ingestDir().c_str()) + "/" + name;
    FuzzEnvironment::writeFile(path, data + 1, size - 1);
    decoder->processBufrDirectory();
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec)))
        FuzzEnvironment::fail("store_bulletins", std::string(type.name) + " left " + name +
                                                     " in its ingest directory");
    decoder.reset();
    resetState();
    return 0;
}
