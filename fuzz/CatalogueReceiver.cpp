#include "CatalogueReceiver.h"

#include <string>
#include <vector>

#include "CDMsg.h"
#include "CRMsg.h"
#include "ChildTargetMsg.h"
#include "DSMsg.h"
#include "DataMgmtMsg.h"
#include "DataMsg.h"
#include "DataReqMsg.h"
#include "Dispatcher.h"
#include "FilePathMsg.h"
#include "FuzzEnvironment.h"
#include "IPC_Target.h"
#include "IpcModule.h"
#include "RawProductMsg.h"
#include "ReadyMsg.h"
#include "RestartMsg.h"
#include "TextString.h"

unsigned long CatalogueReceiver::_decoded = 0;
unsigned long CatalogueReceiver::_refused = 0;

namespace {

const char* const harness = "fuzz_message_reader";

std::vector<char> encoded(const ArgPkgABC& args)
{
    std::vector<char> bytes(args.length());
    char* end = args.serialize(bytes.data());
    if (end != bytes.data() + bytes.size())
        FuzzEnvironment::fail(harness, "a package wrote another size than its length");
    return bytes;
}

// Writes the package and reads it back into a new one, which the written
// bytes must fill exactly.
template <class Args>
std::vector<char> writeAndReadBack(const Args& args, Args& back, const char* name)
{
    std::vector<char> bytes = encoded(args);
    if (back.quantize(bytes.data(), bytes.data() + bytes.size()) != bytes.data() + bytes.size())
        FuzzEnvironment::fail(harness, std::string(name) + " does not read back what it wrote");
    return bytes;
}

// Reads the body with the package Args; true when it read.  A value read
// from the wire may lose, in its first round trip, what its written form
// cannot carry (a valid flag set on a range of equal ends reads as a range
// that is not valid, and is written as such); from then on it must stay.
template <class Args>
bool readPackage(char* body, const char* end, const char* name)
{
    Args args;
    char* next = args.quantize(body, end);
    if (!next)
        return false;
    if (next < body || next > end)
        FuzzEnvironment::fail(harness, std::string(name) + " read outside the body");

    Args once, twice;
    writeAndReadBack(args, once, name);
    const std::vector<char> settled = writeAndReadBack(once, twice, name);
    if (encoded(twice) != settled)
        FuzzEnvironment::fail(harness, std::string(name) + " changes in a round trip");
    return true;
}

bool readDataStream(char* body, const char* end)
{
    TextString key;
    long productId = 0;
    long length = 0;
    char* bytes = DSMsg::quantize(body, end, key, productId, length);
    if (!bytes)
        return false;
    if (bytes < body || length < 0 || length > end - bytes)
        FuzzEnvironment::fail(harness, "DSMsg accepted bytes outside the body");
    // The raw bytes are the router's to copy.
    std::vector<char> copy(bytes, bytes + length);
    return true;
}

typedef bool (*BodyReader)(char* body, const char* end);

// A message of the catalogue read with its own package.
#define QEV_CATALOGUE_ENTRY(module, Msg)                                                   \
    {                                                                                      \
        module, Msg::TYPE,                                                                 \
            [](char* body, const char* end) { return readPackage<Msg::Args>(body, end, #Msg); } \
    }

// The catalogue: module, type, and the reader of the body.
const struct {
    int module;
    int type;
    BodyReader read;
} catalogue[] = {
    QEV_CATALOGUE_ENTRY(COMMS_MODULE, RawProductMsg),
    {COMMS_MODULE, DSMsg::TYPE, readDataStream},
    {COMMS_MODULE, DSMsg::OTHER_TYPE, readDataStream},
    QEV_CATALOGUE_ENTRY(COMMS_MODULE, CRMsg),
    QEV_CATALOGUE_ENTRY(COMMS_MODULE, CDMsg),
    QEV_CATALOGUE_ENTRY(COMMS_MODULE, RestartMsg),
    QEV_CATALOGUE_ENTRY(DATA_CAPT_MODULE, ReadyMsg),
    QEV_CATALOGUE_ENTRY(DATA_CAPT_MODULE, DataReqMsg),
    QEV_CATALOGUE_ENTRY(DATA_CAPT_MODULE, DataMsg),
    {DATA_MGMT_MODULE, DataMgmtMsg::NEW_DATA,
     [](char* body, const char* end) {
         return readPackage<DataMgmtMsg::NewDataArgs>(body, end, "DataMgmtMsg");
     }},
    QEV_CATALOGUE_ENTRY(PROC_MGMT_MODULE, ChildTargetMsg),
    QEV_CATALOGUE_ENTRY(FAC_MODULE, FilePathMsg),
};

}  // namespace

void CatalogueReceiver::registerForAllModules()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    for (const auto& entry : catalogue) {
        if (!dynamic_cast<CatalogueReceiver*>(Dispatcher::receiverFor(entry.module)))
            Dispatcher::addReceiver(entry.module, new CatalogueReceiver(entry.module));
    }
}

void CatalogueReceiver::receive(const short* type, const IPC_Target&,
                                unsigned long bodyLength, char* body)
{
    const char* end = body + bodyLength;
    for (const auto& entry : catalogue) {
        if (entry.module == _module && entry.type == *type) {
            ++(entry.read(body, end) ? _decoded : _refused);
            return;
        }
    }
    ++_refused;
}
