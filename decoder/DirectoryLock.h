// An exclusive advisory lock (flock) on a directory, held while the object
// lives: one process at a time works in a directory that every decoder
// process of a data tree would otherwise share.
//
// The lock belongs to the process, not to one object: objects of one
// process that lock the same directory (found by device and inode) share one
// descriptor and one lock, released when the last of them goes.  The kernel
// releases it when the process ends, however it ends, so a killed process
// leaves no lock behind.  The descriptor is closed on exec.
//
// The lock is on the directory, not on its name: a directory removed and
// made again (or another one renamed to its name) is another directory,
// which a second process could lock.  acquire therefore checks, while it
// holds the lock, that the name still leads to the locked directory, and
// otherwise lets that lock go and takes the one of the directory the name
// now leads to.
//
// Main thread only.
#ifndef DIRECTORYLOCK_H
#define DIRECTORYLOCK_H

#include "TextString.h"

class DirectoryLock {
public:
    enum State {
        NOT_TRIED,    // acquire was never called
        HELD,         // this process holds the lock
        BUSY,         // another process holds it
        UNAVAILABLE   // the directory cannot be opened or locked (error())
    };

    DirectoryLock();
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;

    // Takes the lock on the directory unless it is held already and the
    // name still leads to it; never waits.  The state afterwards.
    State acquire(const TextString& directory);
    State state() const { return _state; }
    // Whether the last acquire found the directory it held removed or
    // replaced (and so let its lock go).
    bool replaced() const { return _replaced; }
    // The errno of the last failed attempt (EWOULDBLOCK when BUSY).
    int error() const { return _error; }

private:
    void release();

    State _state;
    int _error;
    bool _replaced;
    // The process-wide entry this object counts in, while HELD.
    void* _entry;
};

#endif
