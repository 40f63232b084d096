// PassJournal: the notes a writable store keeps of the records each pass
// over a bulletin placed, in the text file "passJournal" of its directory.
//
// A store whose records carry no station, chain or bin bookkeeping (the
// position-keyed stores) places every record as a new one, so a bulletin
// stored again would be held twice: after a pass that did not end (the
// process was killed, the disk was full), and just as well after one that
// ended, when the process was stopped before the bulletin's file was
// removed, or the bulletin was delivered again.  The journal tells a pass
// over a bulletin which records the last pass over the same bulletin
// (same identity: the same values) placed, call by call, so that they are
// taken again in the same order and nothing is added twice.
//
// Lines, appended one write each, so that a killed writer leaves at most a
// torn last line (ignored when read):
//   P <identity>                  a pass over the bulletin begins
//   R <call> <fileTime> <record>  call n of the pass is about to commit the
//                                 record of the data file of that time
//   R <call> <fileTime> <record> <count>
//                                 calls n .. n + count - 1 placed records
//                                 record .. record + count - 1 (a rewritten
//                                 journal holds its notes so)
//   X <fileTime> <record>         a later pass takes that record number: no
//                                 earlier note may give it again
//   E                             the pass placed every record
// A note is written before its record is committed.  So when a store is
// opened, a noted record that its file holds was placed by that pass (no
// other record can follow an uncommitted one before the journal has been
// read again), and one that the file does not hold was never placed (the
// file, or its time's file, was removed since: the record is new again).
//
// A pass is kept whether it ended or not, with the most recent passes: at
// most MAX_PASSES, and the oldest go first while the notes of all take
// more than MAX_RUNS runs (a run: consecutive calls placing consecutive
// records of one file, one line when written anew).  The newest pass is
// always kept.  The file is written anew, its notes as runs, when it is
// opened and when what was appended since outgrows what a rewrite holds;
// it is removed once no pass has a note.
#ifndef PASSJOURNAL_H
#define PASSJOURNAL_H

#include <functional>
#include <list>
#include <string>
#include <vector>

class PassJournal {
public:
    static const int MAX_PASSES = 1024;
    static const int MAX_RUNS = 4096;
    // Bytes appended beyond twice the size of the last rewrite before the
    // file is written anew.
    static const long long REWRITE_SLACK = 65536;

    explicit PassJournal(const std::string& directory);
    ~PassJournal();
    PassJournal(const PassJournal&) = delete;
    PassJournal& operator=(const PassJournal&) = delete;

    // Reads the file.  Notes of records their data file does not hold
    // (recordCount gives the records of the file of a time, -1 for none) are
    // dropped, the bounds applied, and the file is written anew.  False,
    // with the reason, when the file cannot be read or written.
    bool open(const std::function<int(int fileTime)>& recordCount, std::string& error);

    bool begin(const std::string& identity, std::string& error);
    // The record an earlier pass over the same bulletin noted for this call;
    // false when there is none.
    bool earlier(int call, int& fileTime, int& record) const;
    // Notes the record of a call before it is committed; a note of another
    // pass on the same record is dropped first.
    bool note(int call, int fileTime, int record, std::string& error);
    // complete: every record of the pass was placed and is on the disk.
    bool end(bool complete, std::string& error);

private:
    // Calls call .. call + count - 1 placed records record .. record +
    // count - 1 of the data file of fileTime.
    struct Run {
        int call;
        int fileTime;
        int record;
        int count;
    };
    struct Pass {
        std::string identity;
        bool complete;
        std::vector<Run> runs;   // by call, not overlapping
    };

    bool append(const std::string& line, std::string& error);
    bool removeFile(std::string& error);
    // Writes the passes into a new file that replaces the old; outside a
    // pass only.
    bool rewrite(std::string& error);
    Pass& pass(const std::string& identity);
    // Notes calls call .. call + count - 1 of a pass; notes of any pass on
    // those records are dropped first.
    void place(Pass& pass, int call, int fileTime, int record, int count);
    static void eraseCalls(Pass& pass, long long call, long long count);
    // Drops the notes of records record .. record + count - 1 of the file of
    // fileTime.
    void release(int fileTime, long long record, long long count);
    const Pass* holder(int fileTime, int record) const;
    // Drops the oldest passes beyond the bounds, and empty ones.
    void bound();

    std::string _path;
    int _fd = -1;
    long long _size = 0;
    long long _rewritten = 0;        // size of the last rewrite
    std::list<Pass> _passes;         // least recently begun first
    Pass* _current = nullptr;        // always the last of _passes
};

#endif
