// The process-wide BUFR tables: table B (elements), table D (sequences), the
// replicated descriptors and the character elements, read once from
// $QEV_HOME/data/bufrTableB, bufrTableD and replDescTbl.
//
// Beside table B it keeps the working copy of [scale, reference, width] per
// element.  Value decoding reads only the working copy; the data description
// operators never change it (their changes live in DataDescOps).
//
// Descriptors are ints F*100000 + X*1000 + Y (0 12 001 is 12001).
#ifndef STATICBUFRINFO_H
#define STATICBUFRINFO_H

#include "Dict.h"
#include "SeqOf.h"
#include "Set.h"
#include "TableBEntry.h"
#include "TextString.h"

class StaticBufrInfo {
public:
    // The process's tables, made empty on the first call; loadTables fills
    // them (the first BufrDecoder does that).
    static StaticBufrInfo* instance();

    // An empty store of its own (tests and tools load files into one).
    StaticBufrInfo();
    virtual ~StaticBufrInfo();
    StaticBufrInfo(const StaticBufrInfo&) = delete;
    StaticBufrInfo& operator=(const StaticBufrInfo&) = delete;

    // Reads the three table files under $QEV_HOME/data/ in turn; true only
    // when all three were read to their end.  A failure stops at that file
    // (later files are not read); what was stored before it stays.
    bool loadTables();

    bool storeTableB(int descriptor, const TextString& description, const TextString& units,
                     int scale, int reference, int width);

    // The working [scale, reference, width] of an element.
    bool getTableBInfo(int descriptor, SeqOf<int>& info) const;
    // The same as three numbers; false (the numbers untouched) when the
    // element has no entry of all three.
    bool getTableBCoding(int descriptor, int& scale, int& reference, int& width) const;
    void setTableBInfo(int descriptor, const SeqOf<int>& info);

    bool getTableD(int descriptor, SeqOf<int>& elements) const;
    bool getTableBEntry(int descriptor, TableBEntry& entry) const;
    bool isCharacterElement(int descriptor, long& widthBits) const;
    bool isReplicatedDescriptor(int descriptor) const;

    const Dict<int, TableBEntry>& tableB() const { return _tableB; }
    const Dict<int, SeqOf<int> >& tableD() const { return _tableD; }
    const Set<long>& replicatedDescriptors() const { return _replDescSet; }
    const TextString& tableBPath() const { return _tableBPath; }
    const TextString& tableDPath() const { return _tableDPath; }
    const TextString& replDescPath() const { return _replDescPath; }

    // Moves whenever the tables change (a load, a stored or changed
    // element), so that what was derived from them can be made again.
    unsigned generation() const { return _generation; }

    // path1 = $QEV_DATA + dir1, path2 = $QEV_DATA + dir2 (no separator added).
    static void makeDataPaths(const TextString& dir1, const TextString& dir2, TextString& path1,
                              TextString& path2);

private:
    bool loadTableB();
    bool loadTableD();
    bool loadReplicatedDescriptors();
    bool corrupted(const TextString& path, const TextString& what);

    Dict<int, TableBEntry> _tableB;
    TextString _tableBPath;
    TextString _tableDPath;
    TextString _replDescPath;
    Set<long> _replDescSet;
    Dict<long, long> _charElements;
    Dict<int, SeqOf<int> > _tableBInfo;
    Dict<int, SeqOf<int> > _tableD;
    unsigned _generation;
};

#endif
