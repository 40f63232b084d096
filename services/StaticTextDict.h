// StaticTextDict: the abstract base of dictionaries whose records are lines
// of a text file, each line beginning with its unsigned key (decimal, "0x"
// hexadecimal, leading-zero octal, or 'y' and base 32).
//
// Construction reads the file (found along the information-file search
// path, with its "#include" files) and indexes where each key's line starts;
// no line text is kept.  A lookup reads the key's line back by seeking,
// hands it to the subclass's parseLine and caches the record.  When the file
// holds more keys than bufferSize, a rotating buffer of bufferSize slots
// bounds the cached records: the oldest-parsed record is disposed of first.
// A key missing from the file is looked for in the override file
// "/tmp/" + key + "." + dictName (none when dictName is empty), whose record
// expires 600 seconds after it was read.  When a line read back no longer
// carries its indexed key (the file was replaced), the dictionary reloads
// itself once; a second mismatch in a row disables every later lookup.
//
// The file list, the one file kept open between lookups and the arena that
// holds the lines given to parseLine are shared by every instance; all of
// it belongs to the main thread.
#ifndef STATICTEXTDICT_H
#define STATICTEXTDICT_H

#include "SeqOfPtr.h"
#include "TextString.h"

#include <cstdint>
#include <cstdio>

class StaticTextDict {
public:
    // The clock of override expiry: seconds since 1970.
    typedef int32_t (*Clock)();

    StaticTextDict(const TextString& fileName, int bufferSize, const TextString& dictName);
    virtual ~StaticTextDict();
    StaticTextDict(const StaticTextDict&) = delete;
    StaticTextDict& operator=(const StaticTextDict&) = delete;

    // The record of key, or null.  The dictionary keeps it; it stays valid
    // until it leaves the rotating buffer, the dictionary reloads, or the
    // dictionary goes.  Callers copy what they keep.
    void* lookup(unsigned long key);
    // The key of entry i in file order; 0 outside 0 .. keyCount() - 1 and
    // for the entries of counted lines that carried no key.
    unsigned long keyAt(int i) const;
    // The number of candidate lines counted when the file was last read.
    int keyCount() const { return _keyCount; }
    // Whether the key is in the index (override entries included).
    bool contains(unsigned long key) const;
    // After a successful lookup: whether its record came from an override
    // file.
    bool fromOverride() const { return _fromOverride; }

    // The first non-blank (' ') character of s, with the trailing blanks cut
    // off by a NUL; a string of blanks yields its terminating NUL.
    static char* trimBlanks(char* s);

    // Replaces the clock of override expiry (null: the system clock).
    static void setClock(Clock clock);

protected:
    // A new record for the line of key (NUL-terminated, starting at the
    // key's first character, without its newline), or null when the line
    // cannot be used.  The line lies in an arena shared by every instance
    // and may be split in place; it stays intact for at least 45000 further
    // bytes of line text read.
    virtual void* parseLine(unsigned long key, char* line) = 0;
    // Disposes of a record made by parseLine; null does nothing.
    virtual void deleteRecord(void* record) = 0;

    // Disposes of every cached record through deleteRecord.  A subclass's
    // destructor calls it (the base destructor can no longer reach
    // deleteRecord).
    void clearRecords();

private:
    struct Entry {
        unsigned long key;
        // A file entry: the index of its file in the file list; an override
        // entry: its slot in the rotating buffer.
        uint32_t where;
        // A file entry: the byte offset of the key's first character; an
        // override entry: its expiry time.
        uint32_t offsetOrExpiry;
        void* record;
        Entry* next;
    };

    bool readFile(const TextString& name, bool countOnly);
    // Reads one file of the pass; open holds the files being read (for
    // includes).
    bool readLines(const TextString& name, bool countOnly, SeqOfPtr<FILE*>& open);
    void index(unsigned long key, uint32_t fileIndex, uint32_t offset);
    bool isOverride(const Entry* e) const;
    Entry* findEntry(unsigned long key) const;
    void unlink(Entry* e);
    // Takes e's record (if any) through deleteRecord; an override entry is
    // also unlinked and freed.
    void release(Entry* e);
    void putInBuffer(Entry* e);
    void reinitialize();
    // Counting pass at construction or reload; false (logged) when the file
    // yields no key lines.
    bool countKeys();
    void makeIndex(int n);

    TextString _fileName;
    int _failureCount;
    Entry* _entries;
    Entry* _entriesEnd;
    int _keyCount;
    Entry** _buckets;
    int _bucketCount;
    Entry* _nextEntry;
    Entry** _rotatingBuffer;
    Entry** _rotatingCursor;
    Entry** _rotatingEnd;
    bool _rotating;
    TextString _dictName;
    bool _fromOverride;
};

#endif
