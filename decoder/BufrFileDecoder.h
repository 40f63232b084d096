// The base of every data-type decoder: the one way a decoder disposes of the
// BUFR files of its ingest directory.
//
// processBufrDirectory lists the ingest directory and takes each listed file
// in turn: it checks the file's size and name, reads it whole, decodes it,
// hands the decoded values to the decoder's storing code
// (write2NetcdfFile), and then unlinks the file or renames it into the
// bad-file directory with a logged reason.
//
// No file is lost on the way: a file that cannot be moved aside (the
// bad-file directory is missing, unwritable, or a plain file) stays in the
// ingest directory, its failure logged once, and the move alone is tried
// again at every later pass until it succeeds.  A move never replaces a file
// of the bad-file directory: a name taken there gets a suffix ".1", ".2", ...
// (a name too long for its suffix is shortened, keeping its end).  Likewise
// a file that cannot be unlinked (a read-only ingest directory) is logged
// once and not handled again while it stays as it is: each later pass only
// tries the unlink again.  A file is known again by its device, inode, size,
// modification time and change time, so that a file changed or made anew
// under the same name is handled afresh.  The change time is there because
// a writer can set the modification time back (cp -p, touch -r) but not
// the change time: a rewrite of the same size with its old modification
// time is still a new file.
// A file the name check refuses is moved aside too.  A file the listing
// pattern leaves out stays where it is, logged once.  A listing or an open
// that fails for want of descriptors or memory leaves the files for a later
// pass (needsRetry), which the process runs soon after.
//
// One process per ingest directory: the decoder takes an advisory lock on
// its ingest directory when it is made (DirectoryLock), and checks at each
// pass that it still holds the directory of that name: one removed and made
// again is locked anew (logged).  While another process holds it, the
// decoder processes nothing (ingestHeldElsewhere, logged once); the decoder
// process then refuses to start.
//
// What differs between the decoders is data, given once to the constructor
// as a Record: the directories, the listing rule, the texts of the log lines
// and move reasons, and the pause after each file.  A decoder adds code only
// where its flow truly differs:
// - readingTraceName: the name in its "Getting ..." trace (model, network);
// - checkDesignator: a step of the name check that reads the designator
//   before the region match (model digit, profiler network);
// - checkFileName: a name check of its own (ACARS);
// - processBufrDirectory: a precondition before the flow (ACARS's template
//   check), which then calls BufrFileDecoder::processBufrDirectory.
// Its storing code sets _netcdfFileName, which the flow logs after a write
// that returned 1.
//
// A file may hold several BUFR messages: each is decoded and stored in turn
// (write2NetcdfFile with its own notifications, as a file of one), the
// later ones announced by an "MXR_ENTRY" line that names the message and
// its octet.  Disposal by the results of write2NetcdfFile: when every
// message gave 1 (stored) or 0 (nothing to store) the file is unlinked;
// when any failed to decode ("Unable to parse") or gave another value (or
// an exception the storing code let out: the reason the storing code gave
// through setAside, else the record's failedWriteReason),
// it is moved aside with the reason of the first that failed, and with a
// count when the file holds more than one message.  The line of a file set
// aside ends with the cause the engine gave (": Failed to decode Section
// 1", or why it refused a message's frame: "Message of 2,410 octets
// declared is cut short: another message begins at octet 1,872"), and in a
// file of several names the message that failed first by its number and
// the octet of the file where its "BUFR" is ("message 2 at octet 1,934:").
// Every octet a line names counts from the start of the file.  A message
// whose frame is not whole (cut short by its sender, longer than its
// sections, another message inside it) is never decoded; the next one is
// looked for from the octet after its "BUFR", so that a message beginning
// inside or behind its declared length is decoded as any other.  A file's
// first 5 refused frames are logged one by one; the others are counted in
// one line at its end ("99,990 more frames refused in this file, <path>,
// were not logged one by one"), so that a file of garbage writes a few
// dozen lines whatever its size.  The messages stored stay stored: a store
// rewrites or recognises them when the file is stored again.
//
// A file whose records were stored is unlinked only once they are on the
// disk: the stores' writes reach the kernel only, so the files stored whole
// wait, and one commit (DiskCommit: pass journals, new names, data files)
// brings the records of all of them to the disk before any is unlinked: at
// the end of the pass, and earlier once 256 wait or the first has waited 10
// seconds.  A file set aside after its messages placed records (one
// refused, a wind the store would not take) waits for the same commit, and
// is moved aside with its own reason after it.  A failed commit is a failed
// write: they are moved aside with the record's failedWriteReason (or
// their own reason) and the failure.  A power loss before the
// commit leaves them in the ingest directory, to be stored again (the
// stores take their records again).
//
// A file is unlinked or moved only while its name still holds the file the
// flow checked and read (the same device, inode, size, modification and
// change times): one renamed over, written anew or changed otherwise (its
// mode or owner changed, or written with its modification time set back)
// while it was handled is left for the next pass (said once), which takes
// it as the new file it is; storing it again adds no record twice (the
// stores take its records again).  An
// empty file written less than a minute ago may be one its writer is still
// filling: it waits for a later pass (said once); an older one is unlinked.
//
// A bulletin a store refused because it cannot use its pass journal (the
// store said so once) is nothing wrong: it waits in the ingest directory,
// said once, and the pass runs again soon (needsRetry).  Before each pass
// the stores try their journals again; a waiting bulletin is handled again
// once a journal could be used again (or the file changed), and is left
// alone until then.
//
// A stop asked for (SIGINT, SIGTERM, SIGQUIT) is acted on between two
// messages of a file and between two files: the pass commits and disposes
// of what was stored whole and ends, the file it was in and those after it
// stay for the next start, and the process then stops at its wait.
//
// The pause after a file (record.pauseMicroseconds, 0 for none) sleeps
// through a process-wide sleeper, select on no descriptors unless a test
// installs its own (setSleeper).
//
// A decoder's destructor runs at process exit, after any shutdown, when the
// point-data files are already closed: it neither logs nor calls netCDF.
//
// A bulletin is opened once, without waiting and without following a link
// (O_NONBLOCK, O_NOFOLLOW; a link in the ingest directory is read through
// what it points to, checked in the same way), and read through that
// descriptor.  What is opened must be the file the pass checked by its name
// (same device and inode): a name taken meanwhile by another file, a FIFO or
// a directory is left for the next pass, which checks what is there then.
// A file under another process's write lease is not waited for either: the
// open fails at once (and asks the lease's owner to let go), and the file
// waits for a later pass.  Both are logged once per file, and the pass runs
// again soon (needsRetry).
//
// Everything runs on the main thread.  The decoder signal client is told the
// directories at the start of each pass, the name of each file before it is
// handled and the identity of the file once it is open, so that a dirty
// shutdown moves that file aside, and nothing else.
#ifndef BUFRFILEDECODER_H
#define BUFRFILEDECODER_H

#include "BufrDecoder.h"
#include "DirectoryLock.h"
#include "TextString.h"

#include <regex.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class BufrFileDecoder : public BufrDecoder {
public:
    // When the decoder's pattern is fetched: before each checked file, with
    // its "BUFR Pattern [" line, or once per pass before the listing,
    // neither logged nor used (it fills the prefix set and designators).
    enum PatternFetch { PATTERN_PER_FILE, PATTERN_PER_PASS };

    // The texts are static (string literals); the record keeps the pointers.
    struct Record {
        // Source name of every line the flow logs for this decoder.
        const char* sourceName = "BufrFileDecoder";
        // Directories below $QEV_DATA, without a trailing "/".
        const char* ingestPath = "";
        const char* badPath = "";
        // Listing: names matching this POSIX basic expression anywhere;
        // null for every name that does not begin with ".".  Ascending by
        // strcmp when sorted, else in the order the directory yields them.
        const char* listingPattern = nullptr;
        bool sortedListing = false;
        // PROBLEM text before the path when stat fails.
        const char* statFailureText = " stat() failure on file ";
        // PROBLEM "File " + name + this, for a prefix outside the prefix set.
        const char* rejectionText = " is not a BUFR file.";
        // DEBUG "Getting " + readingTraceName() + this while reading; null
        // for no trace.
        const char* readingTrace = nullptr;
        // EVENT " Input File Name :" + name before the "MXR_ENTRY" line.
        bool logInputFileName = false;
        // EVENT this + _netcdfFileName after a write that returned 1.
        const char* storedText = "Writing record to netcdf file: ";
        // Move reason after a write that returned neither 0 nor 1.
        const char* failedWriteReason = "Unable to write netcdf data.";
        PatternFetch patternFetch = PATTERN_PER_FILE;
        // DEBUG "processBufrDirectory: directory name " at the start.
        bool logDirectoryName = true;
        // Pause after each non-empty file that was not refused for a failed
        // stat, read or decode; 0 for none.
        unsigned long pauseMicroseconds = 0;
    };

    // What readBufrFile found.  FILE_READ: the file was read whole and decoded
    // (decoded says whether the decode succeeded); the caller disposes of
    // it.  FILE_UNREADABLE: it could not be opened or read whole, and has
    // been moved to the bad-file directory.  FILE_VANISHED: it was gone when
    // opened; nothing is left to dispose of.  FILE_DEFERRED: it waits for a
    // later pass: it could not be opened for want of descriptors or memory,
    // or at once (another process's write lease on it), or what was opened
    // is not the file the pass checked (the name taken meanwhile by another
    // file, a FIFO, a directory).
    enum ReadResult { FILE_READ, FILE_UNREADABLE, FILE_VANISHED, FILE_DEFERRED };

    typedef int (*Sleeper)(unsigned long microseconds);

    // Sets the directories ($QEV_DATA + the record's paths) and locks the
    // ingest directory.
    explicit BufrFileDecoder(const Record& record);
    ~BufrFileDecoder() override;

    // The flow over the whole ingest directory.
    void processBufrDirectory() override;

    // unlink(path); false when it fails.  The failure is logged once for
    // that file, and each later pass tries the unlink again instead of
    // handling the file afresh.
    bool deleteFile(const TextString& path);
    // Renames path into the bad-file directory under its own name, or that
    // name + "." + a number when the name is taken there, logging the
    // reason; true when moved.  When the rename fails the file stays where
    // it is: the failure is logged once for that file, and each later pass
    // tries the move again instead of handling the file afresh.
    bool moveFile(const TextString& reason, const TextString& path);
    // Logs the pause, then sleeps; the sleeper's result (select's).
    int wait(unsigned long microseconds);
    // Reads directory + name whole (directory ends with "/") and decodes
    // its first message; index and count place the file in the listing for
    // the "MXR_ENTRY" line.  See ReadResult.
    ReadResult readBufrFile(int index, int count, const TextString& directory,
                            const TextString& name, bool& decoded);
    // The steps of one file of a pass (directory ends with "/"; index and
    // count place it in the listing): its size, name, reading, decoding and
    // storing, then its disposal (unlinked or moved aside).
    void processFile(const TextString& directory, const TextString& name, int index, int count);
    // The name check: prefix (the first 4 characters) in the prefix set,
    // then, when the prefix has designators, checkDesignator and the
    // region match of characters 5 and 6, both run.
    virtual bool checkFileName(const TextString& name);

    // Whether another process holds the ingest directory: this decoder then
    // processes nothing.
    bool ingestHeldElsewhere() const { return _ingestLock.state() == DirectoryLock::BUSY; }
    // Whether the last pass left files for later for want of descriptors or
    // memory, because a file was leased or changed while it was checked, or
    // because a store could not use its journal (not for a fault of the
    // files).
    bool needsRetry() const { return _retryPass; }

    const Record& record() const { return _record; }
    const TextString& ingestDir() const { return _ingestDir; }
    const TextString& badDir() const { return _badDir; }
    const TextString& netcdfFileName() const { return _netcdfFileName; }

    // For the storing code of the message being stored: the bulletin is set
    // aside with this reason (what is missing or refused, in words an
    // operator can act on) instead of the record's failedWriteReason.
    // Returns -1, the result write2NetcdfFile then gives.
    int setAside(const TextString& reason);

    // The process-wide sleeper of the pause; null restores select.
    static void setSleeper(Sleeper sleeper);
    static int selectSleep(unsigned long microseconds);

protected:
    // Names the later message of a file whose frame was found whole in its
    // "MXR_ENTRY" line, when that line waits for it.
    void frameAccepted() override;
    // The name between "Getting " and the record's reading trace.
    virtual TextString readingTraceName() const;
    // A step of the name check that reads the designator, run when the
    // prefix has designators, before the region match; false fails the
    // check (the match still runs and logs).
    virtual bool checkDesignator(const TextString& designator);

    // The name of the netCDF file last written, set by the storing code.
    TextString _netcdfFileName;

private:
    // Who a file in the ingest directory is, so that a later pass knows it
    // again (and knows a new file of the same name for a new one).
    struct FileIdentity {
        uint64_t device = 0, inode = 0;
        int64_t size = 0, modifiedSeconds = 0, modifiedNanoseconds = 0;
        // The change time, which no writer can set back.
        int64_t changedSeconds = 0, changedNanoseconds = 0;
        // The file type bits of the mode (a FIFO made at a freed inode is
        // another file).
        uint32_t type = 0;
        bool operator==(const FileIdentity& o) const;
    };
    // A file that could not be moved aside (reason, the move's) or unlinked
    // (reason empty): the file, and the errno of the failure already logged.
    struct PendingDisposal {
        TextString reason;
        TextString cause;
        FileIdentity file;
        int error;
    };
    // The file whose disposal is being made (known: the flow has checked
    // it): its name and who it was when the flow read it.  A disposal of
    // that name is made only while the name still holds that file.
    struct InHand {
        std::string name;
        FileIdentity file;
        bool known = false;
    };
    // A bulletin whose records wait for the commit that brings them to the
    // disk, as the file in hand: unlinked after it, or (reason given) set
    // aside with its reason and cause.
    struct Stored {
        TextString path;
        InHand file;
        TextString reason;
        TextString cause;
    };

    static FileIdentity identityOf(const struct stat& info);
    // The file at path, when there is one (the entry itself, not what a
    // link points to).
    bool identify(const TextString& path, FileIdentity& file) const;
    // Where a path of the ingest directory is reached: during a pass, the
    // directory the pass opened and the name in it; otherwise the working
    // directory and the path.
    int directoryOf(const TextString& path, const char*& name) const;
    // Opens the ingest directory for the pass, a part at a time; false (its
    // files left alone, the refusal logged once) when a part of its path is
    // a link laid where others can write (the directory itself and those
    // above it may be another account's: the ingest process's).  A
    // directory that cannot be opened for a system reason (missing) leaves
    // the pass to the listing, which reports it.
    bool openIngestDirectory();
    // Leaves the file at path for a later pass (needsRetry), with a PROBLEM
    // line saying why, once while it stays that file.
    void deferFile(const TextString& path, const FileIdentity& file, const TextString& why);
    // Notes (reason empty: an unlink) or forgets the failed disposal of the
    // file at path; true when it is new or failed otherwise than before,
    // and so is to be logged.  present: the file is still there.
    bool notePendingDisposal(const TextString& reason, const TextString& cause,
                             const TextString& path, int error, bool& present);
    // moveFile with the cause the decoder or the store gave (empty for
    // none), logged after the target.
    bool moveAside(const TextString& reason, const TextString& cause, const TextString& path);
    // Whether path may be disposed of: true unless it names the file in hand
    // and its name holds another file now (renamed over, written anew:
    // left for the next pass, said once) or nothing (gone).
    bool holdsFileInHand(const TextString& path);
    // Brings the records of the bulletins stored so far to the disk
    // (DiskCommit), then unlinks them, or sets aside those that failed with
    // their own reason; when the commit fails, sets them all aside with the
    // record's failedWriteReason (or their own reason) and the failure.
    void commitStored();
    // Holds the ingest directory's lock, taking it when not held yet; false
    // while another process holds it.  A change of state is logged once.
    bool holdIngestDirectory();
    // The names to process, in the record's listing order; false when the
    // directory could not be read.  Names outside the listing pattern are
    // logged once each.
    bool listFiles(const TextString& directory, std::vector<TextString>& names);
    // write2NetcdfFile, with an exception the storing code let out taken
    // as a failure.
    int storeDecodedFile(const TextString& path);
    // The "MXR_ENTRY" line of the later message in _entry, when it waits.
    void logMessageEntry();
    void pause();

    Record _record;
    TextString _ingestDir;
    TextString _badDir;
    DirectoryLock _ingestLock;
    // The lock state last logged.
    DirectoryLock::State _loggedLockState;
    bool _retryPass;
    // By file name.
    std::map<std::string, PendingDisposal> _pendingDisposals;
    // The reason setAside gave for the message being stored; empty for the
    // record's failedWriteReason.
    TextString _setAsideReason;
    // The record's listing pattern, compiled on the first pass.
    regex_t _listingRegex;
    bool _listingCompiled;
    // Names outside the listing pattern that have been logged, while they
    // stay in the directory.
    std::set<std::string> _unlistedLogged;
    // Files left for a later pass that have been logged, by name, while they
    // stay as they were.
    std::map<std::string, FileIdentity> _deferredLogged;
    // Bulletins waiting for a store's journal, by name: who the file was and
    // the count of journals used again (NetcdfPointData::journalRecoveries)
    // when it was left.
    struct Waiting {
        FileIdentity file;
        unsigned recoveries;
    };
    std::map<std::string, Waiting> _waiting;
    // The ingest directory opened for the pass (-1 outside one or where it
    // could not be opened), and the refusal of its path logged last.
    int _ingestFd = -1;
    std::string _ingestRefusal;
    // The file the pass checked before readBufrFile opens it (what stat
    // saw at its name); _listedKnown while processFile reads it.
    FileIdentity _listed;
    bool _listedKnown = false;
    // Bulletins stored whole since the last commit, and when the first was
    // (monotonicMillis).
    std::vector<Stored> _stored;
    int64_t _storedSince = 0;
    InHand _inHand;
    // Inside processBufrDirectory: single files handled outside a pass
    // commit at once.
    bool _passOpen = false;
    // The "MXR_ENTRY" line of a later message of the file being decoded,
    // while it waits to be logged (frameAccepted).
    struct MessageEntry {
        bool pending = false;
        int index = 0, count = 0;
        TextString name;
        int message = 0;
        long at = 0;
    };
    MessageEntry _entry;
    // The file being handled, read whole by readBufrFile (its size and one
    // zero octet), while its messages are decoded.
    std::unique_ptr<unsigned char[]> _fileBytes;
    unsigned _fileBytesSize = 0;
};

#endif
