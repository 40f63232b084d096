// DiskCommit: what the stores have handed to the kernel since the last
// commit, brought to the disk when the decoders ask for it.
//
// A store's sync (ncsync) only hands netCDF's buffers to the kernel, which
// writes them back when it likes: a power loss before then loses them.  A
// bulletin may leave its ingest directory only once the records it placed
// are on the disk, so the stores note here every file they wrote (data
// files, pass journals) and every directory in which they made a name (a
// new data file, a journal), and the decoders' flow commits once for a
// group of bulletins before it unlinks any of them: one sync per file
// however many bulletins wrote it.
//
// A commit syncs, in this order:
//   1. the pass journals (fdatasync): the notes that let a bulletin stored
//      again take its records again;
//   2. the directories (fsync): the names of new data files and journals;
//   3. the data files (fdatasync);
//   4. what was to follow the data files onto the disk (the pass journals'
//      committed record counts, each written and synced by its journal):
//      only when every sync before it succeeded.
// Writeback orders no two files and no two pages of a file: until its
// sync a data file may reach the disk before its journal, or the other way
// round.  Only these steps order them.
// A failure of any is a failed write: commit is false (each failure logged
// once, "Could not sync <path>: <reason>"), and the caller sets the
// bulletins of the group aside as it does on a full disk.
//
// After a failed fdatasync the kernel may mark the file's pages clean
// without writing them: a later sync that succeeds does not write them
// either.  So the owner that noted a file is told of its failed sync (its
// failure handler), and takes back what the file held since its last good
// commit before it trusts the file again.  A directory whose sync failed
// is synced again by the next commit (the names made in it may not be on
// the disk).
//
// The noted descriptors are duplicates, closed by the commit, so that a
// store may close or reopen its files meanwhile.  A file noted again
// before the commit (the same device and inode) is not noted twice.  At
// most MAX_NOTED files wait: the oldest is synced at once beyond that (its
// failure is kept for the commit).  Main thread only.
#ifndef DISKCOMMIT_H
#define DISKCOMMIT_H

#include <functional>
#include <string>

class DiskCommit {
public:
    enum Kind { JOURNAL = 0, DIRECTORY = 1, DATA_FILE = 2 };
    static const int MAX_NOTED = 64;
    // A step of the next commit after the data files (4 above); it reports
    // a failure by noteFailure.
    typedef std::function<void()> Step;
    // Told of a failed sync of a file its owner noted: its device and inode.
    typedef std::function<void(unsigned long long device, unsigned long long inode)>
        FailureHandler;

    // Notes the file or directory open at fd (not taken over: the caller
    // keeps it); path names it in the lines.  owner: whose failure handler
    // is told when its sync fails (null for none).
    static void note(Kind kind, int fd, const std::string& path, const void* owner = nullptr);
    // The failure handler of an owner (set again: replaced); forget drops it.
    static void onFailure(const void* owner, FailureHandler handler);
    // Notes a file that could not be noted or synced: the next commit
    // fails with this reason.
    static void noteFailure(const std::string& path, int error);
    // Notes the step of an owner for the next commit (once: a step noted
    // again replaces the owner's earlier one).  forget drops it and the
    // owner's failure handler (the owner goes); a commit drops every step,
    // run or not.
    static void noteStep(const void* owner, Step step);
    static void forget(const void* owner);
    // Syncs what was noted, in the order above; false when anything failed
    // (why: the first failure).  Nothing is noted afterwards either way.
    static bool commit(std::string& why);
    // Whether anything waits for a commit.
    static bool pending();
    // A number that changes at every commit: a store that noted a file in
    // this generation need not note it again.
    static unsigned generation();
};

#endif
