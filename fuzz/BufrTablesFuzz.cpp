// The BUFR table readers (StaticBufrInfo::loadTables): the input is table B,
// table D, the replicated-descriptor table, the master table versions and
// the local centres, separated by NUL bytes, written over $QEV_HOME/data's
// tables of this harness's own scratch tree and loaded into a store of its
// own.  What loaded is then read back through every look-up of the store,
// the per-message ones for messages of several centres and versions.
#include <cstdio>
#include <cstring>
#include <string>

#include "FuzzEnvironment.h"
#include "StaticBufrInfo.h"

namespace {

// Messages of the local centre and another, of the base version, of one
// inside and of versions outside any the input covers.
const StaticBufrInfo::Origin origins[] = {
    StaticBufrInfo::loadedTables(), {7, 0}, {98, 13}, {7, 39}, {98, 255}};

void readFor(const StaticBufrInfo& tables, int descriptor)
{
    for (const StaticBufrInfo::Origin& origin : origins) {
        StaticBufrInfo::ElementCoding coding{0, 0, 0, false, false};
        SeqOf<int> elements;
        std::string why;
        tables.elementFor(descriptor, origin, coding, why);
        tables.sequenceFor(descriptor, origin, elements, why);
        tables.tablesKey(origin);
    }
}

void readBack(const StaticBufrInfo& tables)
{
    const Dict<int, TableBEntry>& b = tables.tableB();
    for (int i = 0; i < b.count(); ++i) {
        const int descriptor = b.key(i);
        int scale = 0, reference = 0, width = 0;
        SeqOf<int> info;
        TableBEntry entry;
        long widthBits = 0;
        tables.getTableBCoding(descriptor, scale, reference, width);
        tables.getTableBInfo(descriptor, info);
        if (!tables.getTableBEntry(descriptor, entry))
            FuzzEnvironment::fail("fuzz_bufr_tables", "a table B key has no entry");
        tables.isCharacterElement(descriptor, widthBits);
        readFor(tables, descriptor);
    }
    const Dict<int, SeqOf<int> >& d = tables.tableD();
    for (int i = 0; i < d.count(); ++i) {
        SeqOf<int> elements;
        if (!tables.getTableD(d.key(i), elements))
            FuzzEnvironment::fail("fuzz_bufr_tables", "a table D key has no sequence");
        readFor(tables, d.key(i));
    }
    const Set<long>& replicated = tables.replicatedDescriptors();
    for (int i = 0; i < replicated.count(); ++i)
        tables.isReplicatedDescriptor(static_cast<int>(replicated[i]));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The scratch tree links the project's tables; this harness writes
    // tables of its own in their place.
    const std::string dir = FuzzEnvironment::instance().dataDir();
    for (const char* name : StaticBufrInfo::tableFiles)
        std::remove((dir + "/" + name).c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string dir = FuzzEnvironment::instance().dataDir();
    const uint8_t* part = data;
    const uint8_t* end = data + size;
    for (const char* name : StaticBufrInfo::tableFiles) {
        const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(part, 0, end - part));
        const uint8_t* partEnd = nul ? nul : end;
        FuzzEnvironment::writeFile(dir + "/" + name, part, partEnd - part);
        part = nul ? nul + 1 : end;
    }
    StaticBufrInfo tables;
    tables.loadTables();
    readBack(tables);
    return 0;
}
