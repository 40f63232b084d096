// PassJournal: the notes a writable store keeps of the records each pass
// over a bulletin placed, in the text file "passJournal" of its directory.
//
// A store whose records carry no station, chain or bin bookkeeping (the
// position-keyed stores) places every record as a new one, so a bulletin
// stored again after a pass that did not end (the process was killed, the
// disk was full) would be held twice.  The journal tells such a pass which
// records the unfinished one placed, call by call, so that they are taken
// again in the same order.
//
// Lines, appended one write each, so that a killed writer leaves at most a
// torn last line (ignored when read):
//   P <identity>                  a pass over the bulletin begins
//   R <call> <fileTime> <record>  call n of the pass is about to commit the
//                                 record of the data file of that time
//   X <fileTime> <record>         a later pass takes that record number: no
//                                 earlier note may give it again
//   E                             the pass placed every record: forgotten
// A note is written before its record is committed.  So when a store is
// opened, a noted record that its file holds was placed by that pass (no
// other record can follow an uncommitted one before the journal has been
// read again), and one that the file does not hold was never placed.
//
// The notes of at most MAX_UNFINISHED unfinished passes are kept (the
// oldest go first); the file is removed once no pass is unfinished.
#ifndef PASSJOURNAL_H
#define PASSJOURNAL_H

#include <functional>
#include <list>
#include <map>
#include <string>
#include <utility>

class PassJournal {
public:
    static const int MAX_UNFINISHED = 32;

    explicit PassJournal(const std::string& directory);
    ~PassJournal();
    PassJournal(const PassJournal&) = delete;
    PassJournal& operator=(const PassJournal&) = delete;

    // Reads the file.  Notes of records their data file does not hold
    // (recordCount gives the records of the file of a time, -1 for none) and
    // of finished passes are dropped, and the file is written anew without
    // them.  False, with the reason, when the file cannot be read or written.
    bool open(const std::function<int(int fileTime)>& recordCount, std::string& error);

    bool begin(const std::string& identity, std::string& error);
    // The record an unfinished earlier pass over the same bulletin noted for
    // this call; false when there is none.
    bool earlier(int call, int& fileTime, int& record) const;
    // Notes the record of a call before it is committed; a note of another
    // pass on the same record is dropped first.
    bool note(int call, int fileTime, int record, std::string& error);
    // complete: every record of the pass was placed and is on the disk.
    bool end(bool complete, std::string& error);
    bool inPass() const { return _current != nullptr; }
    int unfinishedPasses() const { return static_cast<int>(_passes.size()); }

private:
    struct Pass {
        std::string identity;
        std::map<int, std::pair<int, int>> records;   // by call: file time, record
    };
    typedef std::pair<int, int> RecordId;

    bool append(const std::string& line, std::string& error);
    bool removeFile(std::string& error);
    // Writes the unfinished passes into a new file that replaces the old.
    bool rewrite(std::string& error);
    Pass* find(const std::string& identity);
    void forget(std::list<Pass>::iterator pass);
    void claim(Pass& pass, int call, int fileTime, int record);

    std::string _path;
    int _fd = -1;
    long long _size = 0;
    std::list<Pass> _passes;                    // oldest first
    std::map<RecordId, std::pair<Pass*, int>> _claims;   // record -> pass, call
    Pass* _current = nullptr;
};

#endif
