// DM_DataAccessInfo: how one data product (a DataAccessKey) is stored, a copy
// of its line of the data-access dictionary: kind, period, two numeric
// parameters, interval and offset, and either a list of member keys (list
// kinds, given by the letters V, D or F) or a data directory with file-name
// prefix and suffix, and a key name.
//
// The dictionary ("dataInfo.txt" unless "DataAccessInfo.dictName" names
// another) is loaded once per process, on the first use of any operation
// here, and kept to the end of the process; a load that finds no key is
// tried again at the next use.  Messages are logged under the source name
// "DM_DataAccessInfo".  Main thread only.
#ifndef DM_DATAACCESSINFO_H
#define DM_DATAACCESSINFO_H

#include "DataAccessKey.h"
#include "SeqOf.h"
#include "TextString.h"

class DM_DataAccessInfoDict;

class DM_DataAccessInfo {
public:
    // The record of the key; its key() is 0 when the key was not found.
    explicit DM_DataAccessInfo(DataAccessKey key);
    DM_DataAccessInfo(const DM_DataAccessInfo&) = default;
    DM_DataAccessInfo& operator=(const DM_DataAccessInfo&) = default;

    static void loadDictionary();
    // The i-th key in file order, 0 without a dictionary.
    static DataAccessKey keyAt(int i);
    static int keyCount();
    static DM_DataAccessInfoDict* dictionary();
    // A file tried before the default one; effective only before a load has
    // succeeded.
    static void setDictionaryOverride(const TextString& name);

    DataAccessKey key() const { return _key; }
    const TextString& name() const { return _name; }
    bool isTemporary() const { return _temporary; }

    int kind() const { return _kind; }
    int period() const { return _period; }
    float periodValue() const { return _periodValue; }
    int periodValueAsInt() const { return static_cast<int>(_periodValue); }
    // The period in seconds: -n is n days, 0 to 240 hours, above 240 seconds.
    int filePeriodSeconds() const;
    int param4() const { return _param4; }
    int param4Bit0() const { return _param4 & 1; }
    int param4Bit1() const { return (_param4 >> 1) & 1; }
    int param4Bit2() const { return (_param4 >> 2) & 1; }
    float param4Value() const { return _param4Value; }
    int param4SecondAsInt() const { return static_cast<int>(_param4Second); }
    int param5() const { return _param5; }
    // 1e37 for a value of exactly 0.
    float param5ValueOrMissing() const;
    int param5SecondAsInt() const { return static_cast<int>(_param5Second); }
    int interval() const { return _interval; }
    int offset() const { return _offset; }
    const SeqOf<unsigned long>& keyList() const { return _keyList; }
    const SeqOf<float>& valueList() const { return _valueList; }
    bool hasKeyList() const { return _keyList.length() > 0; }
    TextString directory() const { return _directory; }
    TextString filePrefix() const { return _filePrefix; }
    TextString fileSuffix() const { return _fileSuffix; }
    TextString keyName() const { return _keyName; }
    // Prefix followed by suffix: the name of a product's static file.
    TextString staticPath() const { return _filePrefix + _fileSuffix; }
    // 0 ".spi", 1 ".lpi", 2 ".bcd", 3 ".bcx" or another suffix, 4 neither
    // suffix nor directory, 5 one directory, 6 a comma-separated list of them.
    int fileClass() const;
    // A new sequence (the caller deletes it) of the keys this one stands for:
    // itself without a member list, else its members expanded in order.  A
    // member list that leads back to a key being expanded adds nothing more
    // from there, with one PROBLEM line.
    SeqOf<unsigned long>* expandKeys() const;

private:
    friend class DM_DataAccessInfoDict;
    DM_DataAccessInfo();

    // Appends the expansion of this record; path holds the keys being
    // expanded, reported whether a cycle was logged already.
    void expandInto(SeqOf<unsigned long>& out, SeqOf<unsigned long>& path, bool& reported) const;

    DataAccessKey _key;
    TextString _name;
    int _kind;
    int _period;
    float _periodValue;
    int _param4;
    float _param4Value;
    float _param4Second;
    int _param5;
    float _param5Value;
    float _param5Second;
    int _interval;
    int _offset;
    SeqOf<unsigned long> _keyList;
    SeqOf<float> _valueList;
    TextString _directory;
    TextString _filePrefix;
    TextString _fileSuffix;
    TextString _keyName;
    bool _temporary;
};

#endif
