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
//   U <fileTime> <records>        records 0 .. records - 1 of that data file
//                                 were placed by passes whose notes are lost
//                                 (a rewritten journal holds these first)
//   C <fileTime> <records>        records 0 .. records - 1 of that data file
//                                 are committed: on the disk with their
//                                 notes, their bulletins free to go from the
//                                 ingest directory (a rewritten journal holds
//                                 these first of all)
//   N <fileTime>                  the data file of that time was made anew:
//                                 no record of it is committed, and no
//                                 earlier note names one
//   A                             the journal names every data file of its
//                                 store: a file no line names was made
//                                 since, and holds no committed record (a
//                                 rewritten journal begins with it)
// A note is written before its record is committed to the data file.  But
// the kernel writes pages back in any order, of one file or of several,
// until a sync: a record may reach the disk before its note, which is a
// plain write.  What orders them is the commit (DiskCommit), before which no
// bulletin whose records it brings to the disk leaves its ingest directory:
// it syncs the journals (every note written so far), then the data files,
// and then each journal appends the record count of each data file its store
// placed records in, one "C" line each, and syncs it.  So a record below its
// file's committed count has its note on the disk (when a pass noted it),
// and one past it was placed by a bulletin still in the ingest directory,
// which is stored again.  When a store is opened, a noted record that its
// file holds was placed by that pass (no other record can follow an
// uncommitted one before the journal has been read again), and one that the
// file does not hold was never placed (the file, or its time's file, was
// removed since: the record is new again).  A record past the committed
// count that no note names (its note did not reach the disk, or it was
// placed outside a pass) is nobody's: the store empties it, and its next new
// records of that file go over such records first (freeRecord), so that the
// bulletin stored again is held once; one that no record has gone over by
// the next commit stays empty.  Opening writes the journal anew, with an
// "A" line and a "C" line for each data file held, and its name is on the
// disk before the store can make a file: a data file that no line names
// was made since and holds no committed record, so that a new file needs
// no line of its own.  The store notes "N" only for a file made at a time
// the journal holds lines of (a removed file's), on the disk with the
// directory before a record of the file can be.  In a journal without "A"
// (one older than the counts) a data file that no "C" or "N" line names
// was made before its journal counted records, and every record it holds
// counts as committed.  A rewrite is on the disk before it replaces the
// old file.
//
// A pass is kept whether it ended or not, with the most recent passes: at
// most MAX_PASSES, and the oldest go first while the notes of all take
// more than MAX_RUNS runs (a run: consecutive calls placing consecutive
// records of one file, one line when written anew).  The newest pass is
// always kept.  The file is written anew, its notes as runs, when it is
// opened and when what was appended since outgrows what a rewrite holds.
//
// A tail that a power loss or a stop tore (part of a line, or zeros where
// the file's size got ahead of its data: a line holding a NUL byte) is no
// damage: nothing after the last sync can be relied on, and a sync leaves
// no torn byte before it.  The journal keeps its whole lines before the
// tear and is cut back to them (open says so); the records the notes cut
// off named are then named by none, taken back or emptied as below.
//
// The stores keyed by station (a record found again by its station and
// time) keep a journal of counts only: "A", "C" and "N" lines, no passes.  Every
// writable store's data file thus opens with the records its last commit
// brought to the disk, and, in a store of passes, those up to the last a
// note names; the records after them are taken back (heldRecords).
//
// A data file the store cannot read when the journal is opened (a disk
// error) keeps its count and notes as the journal holds them, until the
// store reads the file (settle).  After a failed sync of a data file the
// records it holds past its committed count are held no more (syncFailed):
// the store takes them back before it places a record in the file again,
// so that no commit counts a record whose pages never reached the disk.
// After a failed sync or write of the journal itself, the lines it holds
// since its last good sync may never reach the disk, and a torn tail read
// there would cut off every line after it: the journal is written anew
// from its notes before it takes another line (repair).
//
// Opening reads at most MAX_FILE_BYTES, line by line, each note found by
// its pass (a hash of identities) and its record (an ordered index per data
// file), so that it takes time and memory in proportion to the file.  A
// file that is larger, or that holds a line no writer of the journal
// writes, is damaged (a power loss, a disk error, an operator's edit): it
// is kept aside under the name "passJournal.damaged" (with a suffix ".1",
// ".2", ... when that is taken), none of its notes is used, and every
// record its data files hold then counts as placed by a pass whose notes
// are lost.
#ifndef PASSJOURNAL_H
#define PASSJOURNAL_H

#include <functional>
#include <list>
#include <map>
#include <set>
#include <string>
#include <unordered_map>

class PassJournal {
public:
    static const int MAX_PASSES = 1024;
    static const int MAX_RUNS = 4096;
    // Bytes appended beyond twice the size of the last rewrite before the
    // file is written anew.
    static const long long REWRITE_SLACK = 65536;
    // The largest journal read; one that is larger is taken as damaged.
    static const long long MAX_FILE_BYTES = 16LL << 20;

    enum OpenResult {
        OPENED,      // read (or there was none)
        SET_ASIDE,   // damaged and kept aside; the message says why and where
        FAILED       // could not be read, kept aside or written; no note is known
    };

    explicit PassJournal(const std::string& directory);
    ~PassJournal();
    PassJournal(const PassJournal&) = delete;
    PassJournal& operator=(const PassJournal&) = delete;

    // Reads the file.  records gives the record count of each data file of
    // the store by its file time: notes of records their data file does not
    // hold are dropped, the bounds applied, the records each file keeps
    // counted (heldRecords), the records past a file's committed count that
    // no note names below that found (freeRecords), and the file is written
    // anew.  unreadable: the file times of data files the store holds but
    // could not read; their counts and notes are kept as they are until
    // settle.  message tells what went wrong (SET_ASIDE, FAILED), or,
    // opened, that a torn tail was cut off (empty when nothing was).
    OpenResult open(const std::map<int, int>& records, std::string& message,
                    const std::set<int>& unreadable = std::set<int>());
    // A data file open could not read, read now with that many records: its
    // counts, notes and free records as open makes them.  False (nothing
    // done) for a file open read.
    bool settle(int fileTime, int records);

    bool begin(const std::string& identity, std::string& error);
    // The record an earlier pass over the same bulletin noted for this call;
    // false when there is none.
    bool earlier(int call, int& fileTime, int& record) const;
    // Notes the record of a call before it is committed; a note of another
    // pass on the same record is dropped first.
    bool note(int call, int fileTime, int record, std::string& error);
    // complete: every record of the pass was placed and is on the disk.
    bool end(bool complete, std::string& error);

    // Whether a note of some pass names the record.
    bool noted(int fileTime, int record) const;

    // The store holds records 0 .. records - 1 of the data file of fileTime
    // (after a new record, in a pass or not): the next commit counts them.
    // record: the record placed (the last, when not given).
    void placed(int fileTime, int records, int record = -1);
    // A sync of the data file of fileTime failed: no record past its
    // committed count is held (heldRecords), none counted by a commit.
    void syncFailed(int fileTime);
    // The store made the data file of fileTime anew (its name is in the
    // directory, it holds no record): none of its records is committed.
    // Where the journal holds lines of that time, an "N" line voids them,
    // on the disk with the directory before this returns.
    bool madeFile(int fileTime, std::string& error);
    // The committed records of the data file of fileTime: 0 .. n - 1.
    int committedRecords(int fileTime) const;
    // The records of the data file of fileTime the store holds by the
    // journal's count: after open, its committed records and those up to
    // the last one a note names; the store takes back the records past it.
    // Then raised by placed.  -1 for a file the journal does not know.
    int heldRecords(int fileTime) const;
    // A free record of the data file of fileTime could not be emptied: no
    // commit counts it or a record after it until it is emptied (emptied)
    // or a note takes it (the store fills a record it places again).  A
    // commit that would leave a record placed after it uncounted fails.
    void emptyFailed(int fileTime, int record);
    // A record that could not be emptied has been emptied since.
    void emptied(int fileTime, int record);
    // By file time, the free records that could not be emptied.
    const std::map<int, std::set<int>>& unemptiedRecords() const { return _unemptied; }
    // Whether the file must be written anew before it takes a line (a sync
    // or write of it failed), and the writing anew, its name synced; false
    // with error when it cannot be written.
    bool rewriteNeeded() const { return _rewriteNeeded; }
    bool repair(std::string& error);
    // By file time, the records past the committed count that open found
    // named by no note, for the store to empty; the store places new records
    // over them.
    const std::map<int, std::set<int>>& freeRecords() const { return _free; }
    // The lowest free record of the data file of fileTime; -1 for none.  A
    // note of it takes it.
    int freeRecord(int fileTime) const;
    // The records 0 .. n - 1 of the data file of fileTime that passes whose
    // notes are lost placed: n, 0 for none.
    int unknownRecords(int fileTime) const;

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
        std::map<int, Run> runs;   // by first call, not overlapping
    };
    typedef std::list<Pass>::iterator PassPlace;
    // The run of a record: its pass and first call.
    struct Owner {
        Pass* pass;
        int call;
    };

    // The counts of a data file of that many records, open's way: its
    // committed records (at most committed), those up to the last one a
    // note names held, and the records between that no note names free.
    void settleFile(int fileTime, int records, int committed);
    // The reading of open: OPENED, or SET_ASIDE with why in message, or
    // FAILED.
    OpenResult read(std::string& message);
    // One whole line of the file; false when no writer writes it so.
    bool readLine(const char* line, size_t length, Pass*& current);
    // Appends a line; noted: the next commit syncs it (a caller that syncs
    // the file itself does not note it).
    bool append(const std::string& line, std::string& error, bool noted = true);
    // fdatasync of the open file, and fsync of the directory when asked.
    bool syncFile(bool directory, std::string& error);
    // The commit's step: the "C" lines of the counts placed since the last
    // commit, synced.
    void commitCounts();
    // Writes the notes into a new file that replaces the old; outside a
    // pass only.  syncDirectory: the new name is on the disk before this
    // returns (otherwise with the next commit).
    bool rewrite(std::string& error, bool syncDirectory = false);
    void clear();
    Pass& pass(const std::string& identity);
    void addRun(Pass& pass, const Run& run);
    std::map<int, Run>::iterator removeRun(Pass& pass, std::map<int, Run>::iterator at);
    // Notes calls call .. call + count - 1 of a pass; notes of any pass on
    // those records are dropped first.
    void place(Pass& pass, int call, int fileTime, int record, int count);
    void eraseCalls(Pass& pass, long long call, long long count);
    // Drops the notes of records record .. record + count - 1 of the file of
    // fileTime.
    void release(int fileTime, long long record, long long count);
    const Pass* holder(int fileTime, int record) const;
    void erasePass(PassPlace at);
    // Drops the oldest passes beyond the bounds, and empty ones.
    void bound();

    // The store's directory, and the journal's path in it.  Each call opens
    // the directory by SafeDirectory and takes the journal's names in it.
    std::string _directory;
    std::string _path;
    int _fd = -1;
    long long _size = 0;
    long long _rewritten = 0;        // size of the last rewrite
    // The DiskCommit generation in which the open file was last noted.
    unsigned _notedGeneration = 0;
    std::list<Pass> _passes;         // least recently begun first
    std::unordered_map<std::string, PassPlace> _byIdentity;
    // Every run of every pass by data file and first record; no two runs
    // share a record.
    std::unordered_map<int, std::map<int, Owner>> _byRecord;
    long long _runs = 0;             // runs of all passes
    Pass* _current = nullptr;        // always the last of _passes
    std::map<int, int> _unknown;     // by file time: records of lost notes
    std::map<int, int> _committed;   // by file time: committed records
    std::map<int, int> _counts;      // by file time: records held
    std::map<int, std::set<int>> _free;
    std::map<int, std::set<int>> _unemptied;   // free records not emptied
    // By file time: the DiskCommit generation in which a record was placed
    // past one that could not be emptied.
    std::map<int, unsigned> _placedPastUnemptied;
    // Data files open could not read, whose counts wait for settle.
    std::set<int> _unsettled;
    // A sync or write of the file failed since it was last written anew.
    bool _rewriteNeeded = false;
    // The journal names every data file its store holds ("A"): a file no
    // line names was made since, and holds no committed record.
    bool _allNamed = false;
    // The journal's name as it is now is on the disk (a rewrite since was
    // renamed into place without a sync of the directory: false).
    bool _nameSynced = false;
    // The DiskCommit generation whose commit counts the records placed.
    unsigned _stepGeneration = 0;
};

#endif
