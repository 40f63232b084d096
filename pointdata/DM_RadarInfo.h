// DM_RadarInfo: one record of the radar information dictionary, keyed by a
// message code (_key) and carrying the system's product code for it
// (_keltuid), with numbers, texts and flags that its users read by field.
//
// The dictionary ("radarInfo.txt" unless "radarStationInfo.dictName" names
// another) is read once per process, on the first use of any operation
// here, into a table by _key and a table by _keltuid; a load that fails is
// tried again at the next use.  Messages are logged under the source name
// "DM_RadarInfo".  Main thread only.
#ifndef DM_RADARINFO_H
#define DM_RADARINFO_H

#include "TextString.h"

class DM_RadarInfo {
public:
    enum { FLAG_COUNT = 4 };

    // Empty texts, zero numbers, false flags.
    DM_RadarInfo();
    // The record of the message code, or the not-found record (-1 numbers,
    // empty texts, false flags).
    explicit DM_RadarInfo(int key);
    DM_RadarInfo(const DM_RadarInfo&) = default;
    DM_RadarInfo& operator=(const DM_RadarInfo&) = default;

    // The record preferred for a product code (the greatest _int1, then
    // _int4, then _int2; the first in positional order on a full tie), or
    // the not-found record.
    static DM_RadarInfo byKeltuid(int keltuid);
    // The number of records, 0 without a dictionary.
    static int count();
    // The i-th record in the table's positional order; an empty record
    // (logged) outside 0 .. count() - 1.
    static DM_RadarInfo at(int i);
    // Reads the dictionary; when that succeeds its tables replace those
    // held (a failure keeps them).
    static void loadDictionary();

    int key() const { return _key; }
    int int1() const { return _int1; }
    int int2() const { return _int2; }
    float float3() const { return _float3; }
    int int4() const { return _int4; }
    const TextString& text5() const { return _text5; }
    const TextString& text6() const { return _text6; }
    const TextString& text7() const { return _text7; }
    // Fields 8 to 11 (i 0 to 3); false outside.
    bool flag8(int i) const { return i >= 0 && i < FLAG_COUNT && _flags8[i]; }
    const TextString& text12() const { return _text12; }
    // Fields 13 to 16 (i 0 to 3); false outside.
    bool flag13(int i) const { return i >= 0 && i < FLAG_COUNT && _flags13[i]; }
    int keltuid() const { return _keltuid; }

private:
    friend class DM_RadarInfoDictServer;

    static DM_RadarInfo notFound();
    // Whether this record is preferred to other for their product code.
    bool preferredTo(const DM_RadarInfo& other) const;

    int _key;
    int _int1;
    int _int2;
    float _float3;
    int _int4;
    TextString _text5;
    TextString _text6;
    TextString _text7;
    bool _flags8[FLAG_COUNT];
    TextString _text12;
    bool _flags13[FLAG_COUNT];
    int _keltuid;
};

#endif
