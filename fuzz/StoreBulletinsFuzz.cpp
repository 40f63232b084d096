// Each data type's storing code on fuzzed bulletins: the first byte of the
// input picks a decoder of the registration table (fuzz/CMakeLists.txt,
// QEV_FUZZ_STORE_DECODERS), the rest is the bulletin.  A new decoder of that
// type decodes it and, when the decoding succeeds, stores it with
// write2NetcdfFile into the point-data store under the scratch QEV_DATA, so
// that every positional read and write of the decoder runs against real
// netCDF files.  Its seeds are the decoder harness's bulletins behind each
// selector byte.
//
// The harness is built only when at least one decoder is registered.
#include <string>
#include <vector>

#include "BufrDecoder.h"
#include "FuzzEnvironment.h"
#include "storeDecoderIncludes.inc"

namespace {

struct StoreDecoder {
    const char* name;
    BufrDecoder* (*make)();
};

#define QEV_STORE_DECODER(Class) {#Class, []() -> BufrDecoder* { return new Class; }},
const StoreDecoder decoders[] = {
#include "storeDecoderTable.inc"
};
#undef QEV_STORE_DECODER

const int decoderCount = static_cast<int>(sizeof decoders / sizeof decoders[0]);

// Decodes and stores one bulletin with a new decoder of the type; the
// result of write2NetcdfFile, or 0 when the bulletin did not decode.
int store(const StoreDecoder& type, const uint8_t* data, size_t size)
{
    BufrDecoder* decoder = type.make();
    int stored = 0;
    if (decoder->preProcess() && decoder->decode(data, static_cast<unsigned>(size)))
        stored = decoder->write2NetcdfFile();
    delete decoder;
    return stored;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzEnvironment::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const StoreDecoder& type = decoders[data[0] % decoderCount];
    store(type, data + 1, size - 1);
    return 0;
}
