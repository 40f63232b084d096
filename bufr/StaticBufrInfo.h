// The process-wide BUFR tables: table B (elements), table D (sequences), the
// replicated descriptors and the character elements, read once from
// $QEV_HOME/data/bufrTableB, bufrTableD and replDescTbl; the other WMO master
// table versions where they differ (bufrTableVersions, see
// BufrTableVersions); and the originating centres whose messages use the
// local entries (bufrLocalCentres).
//
// Beside table B it keeps the working copy of [scale, reference, width] per
// element.  Value decoding reads only the working copy; the data description
// operators never change it (their changes live in DataDescOps).
//
// Tables B and D hold WMO's entries of one master table version and the
// local entries (X 48 to 63 or Y 192 to 255) of one local table.  A message
// is read with the entries its section 1 chooses (Origin): the local ones
// only when its originating centre is one bufrLocalCentres lists (centre 7
// until that file is read), and the WMO ones as its master table version
// defines them (elementFor, sequenceFor).
//
// Descriptors are ints F*100000 + X*1000 + Y (0 12 001 is 12001).
#ifndef STATICBUFRINFO_H
#define STATICBUFRINFO_H

#include "BufrTableVersions.h"
#include "Dict.h"
#include "SeqOf.h"
#include "Set.h"
#include "TableBEntry.h"
#include "TextString.h"

#include <set>
#include <string>

class StaticBufrInfo {
public:
    // What section 1 of a message says about the tables it was written
    // with; -1 stands for the loaded tables as they are (the local entries
    // apply, the base master table version).
    struct Origin {
        int centre;
        int masterTableVersion;
    };
    static Origin loadedTables() { return Origin{-1, -1}; }

    // An element as a message reads it.
    struct ElementCoding {
        int scale;
        int reference;
        int width;
        bool character;     // CCITT IA5
        bool codeOrFlag;    // a code or flag table
    };

    // How a look-up for a message ended.
    enum Lookup {
        DEFINED,
        NOT_DEFINED,    // not in the tables the message reads
        NOT_KNOWN       // the message's master table version might define it otherwise
    };

    // The files loadTables reads from $QEV_HOME/data/, in order.
    static const char* const tableFiles[5];
    // The process's tables, made empty on the first call; loadTables fills
    // them (the first BufrDecoder does that).
    static StaticBufrInfo* instance();

    // An empty store of its own (tests and tools load files into one).
    StaticBufrInfo();
    virtual ~StaticBufrInfo();
    StaticBufrInfo(const StaticBufrInfo&) = delete;
    StaticBufrInfo& operator=(const StaticBufrInfo&) = delete;

    // Reads the table files under $QEV_HOME/data/ in turn (tableFiles);
    // true only when all were read to their end.  A failure stops at that
    // file (later files are not read); what was stored before it stays.
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

    // An element (F = 0) or sequence (F = 3) as a message of that origin
    // reads it.  Unless DEFINED, `why` holds the reason line beyond "not in
    // the table" (empty when there is none: the tables lack it outright).
    Lookup elementFor(int descriptor, const Origin& origin, ElementCoding& coding,
                      std::string& why) const;
    Lookup sequenceFor(int descriptor, const Origin& origin, SeqOf<int>& elements,
                       std::string& why) const;
    // Equal for two origins that read every descriptor alike.
    int tablesKey(const Origin& origin) const;
    // Whether messages of the originating centre use the local entries.
    bool usesLocalEntries(int centre) const;
    // X 48 to 63 or Y 192 to 255: reserved for local tables.
    static bool isLocalDescriptor(int descriptor);
    // Units that make an element a code or a flag table.
    static bool isCodeOrFlagTable(const TextString& units);
    const BufrTableVersions& versions() const { return _versions; }
    const std::set<int>& localCentres() const { return _localCentres; }

    const Dict<int, TableBEntry>& tableB() const { return _tableB; }
    const Dict<int, SeqOf<int> >& tableD() const { return _tableD; }
    const Set<long>& replicatedDescriptors() const { return _replDescSet; }
    const TextString& tableBPath() const { return _tableBPath; }
    const TextString& tableDPath() const { return _tableDPath; }
    const TextString& replDescPath() const { return _replDescPath; }
    const TextString& versionsPath() const { return _versionsPath; }
    const TextString& localCentresPath() const { return _localCentresPath; }

    // Moves whenever the tables change (a load, a stored or changed
    // element), so that what was derived from them can be made again.
    unsigned generation() const { return _generation; }

    // $QEV_HOME + file (no separator added; an unset QEV_HOME counts as "").
    static TextString homePath(const TextString& file);
    // For the line of a file below $QEV_HOME that cannot be opened: " (QEV_HOME
    // is not set)" when it is unset or empty, else "".
    static std::string homeUnsetNote();

    // path1 = $QEV_DATA + dir1, path2 = $QEV_DATA + dir2 (no separator added).
    static void makeDataPaths(const TextString& dir1, const TextString& dir2, TextString& path1,
                              TextString& path2);

private:
    bool loadTableB();
    bool loadTableD();
    bool loadReplicatedDescriptors();
    bool loadLocalCentres();
    bool corrupted(const TextString& path, const TextString& what);
    // Which tables answer for a descriptor of a message: the loaded ones as
    // they are, the master table versions, or none (another centre's local
    // descriptor; `why` says so).
    enum Source { LOADED, VERSIONS, REFUSED };
    Source sourceFor(int descriptor, const Origin& origin, std::string& why) const;
    // The look-up result of a version's answer other than BASE and OWN.
    static Lookup lookupOf(BufrTableVersions::Answer answer);
    // The base-version element as a message reads it; false when the
    // working table B lacks it.
    bool baseCoding(int descriptor, ElementCoding& coding) const;
    // Why a message of the centre cannot read a local descriptor.
    std::string notLocalTo(int descriptor, int centre) const;

    Dict<int, TableBEntry> _tableB;
    TextString _tableBPath;
    TextString _tableDPath;
    TextString _replDescPath;
    Set<long> _replDescSet;
    Dict<long, long> _charElements;
    Dict<int, SeqOf<int> > _tableBInfo;
    Dict<int, SeqOf<int> > _tableD;
    unsigned _generation;
    TextString _versionsPath;
    TextString _localCentresPath;
    BufrTableVersions _versions;
    std::set<int> _localCentres;
};

#endif
