// Opening directories and files where other users may write, so that no
// link or directory another user laid there leads the process elsewhere.
//
// A directory path is opened one part at a time from "/" (or from the
// working directory for a relative path), each part with openat on the
// directory before it, never following a link at the part itself.  Each
// part is judged by who could have laid it there: the directory's owner and
// root, and where its group or everybody may write, they too (in a sticky
// directory, only the part's owner, the directory's and root can take an
// existing part away).
// - A symbolic link is followed only when root or this account laid it:
//   never in a directory that group or others may write without the sticky
//   bit; elsewhere when the link is root's or this account's, or when its
//   directory is theirs and only its owner may write it.  Its target is
//   walked by the same rules (at most MAX_LINKS links a path).
// - A directory of another account than this one and root is refused where
//   group or others may write (sticky or not): that account, or anyone,
//   may have swapped it in.  Where only the directory's owner may write,
//   the part is that owner's doing and is entered: an installation's
//   account whose tree holds this account's own directories.
// - The ingest directory and its bad-file directory (openOthersPath,
//   OTHERS_DIRECTORIES) may be another account's (the ingest process's, as
//   may the parts above them), under the same rule for links: the process
//   only reads and empties the one and moves files into the other without
//   following a link, so such a directory leads at worst into that
//   account's own.
// A missing part can be made on the way: with the mode given, then that
// mode given to the directory made (fchmod on what was opened, whatever the
// file-creation mask).
//
// Files are then opened with openat on the directory's descriptor, never
// through a link at their name (but for reading, through a link laid by
// root or this account as above), and checked on what was opened (fstat).
//
// openPath, openOthersPath, openParent, openFileAt and othersCanWrite make
// system calls and byte copies only, with nothing allocated and no lock
// taken: they are async-signal-safe, for the fatal-signal path that moves
// the file being decoded aside.  The object is the descriptor of one
// directory opened so, closed when it goes.
#ifndef SAFEDIRECTORY_H
#define SAFEDIRECTORY_H

#include <sys/types.h>

#include <cstddef>
#include <string>

class SafeDirectory {
public:
    // Links followed in one path, as the system's own limit.
    static const int MAX_LINKS = 40;

    // Why an opening was refused, beside a system failure (SYSTEM, errno
    // in error).
    enum Refusal {
        NONE,
        SYSTEM,
        LINK,            // a symbolic link root or this account may not have laid
        FOREIGN_OWNER,   // another account's directory in a directory others can write
        NOT_REGULAR,     // a file: not a regular file
        OTHER_OWNER,     // a file: of another account
        OTHER_NAMES      // a file: it has other names (hard links)
    };

    // What the checks on an opened file take.
    enum FileCheck {
        // A regular file; in a directory others can write, of this account
        // or root and with no other name.
        REGULAR_FILE,
        // A regular file of this account with no other name, wherever it
        // lies.
        OWN_FILE,
        // A regular file to read; a link at its name is followed when
        // this account or root laid it.
        READ_FILE
    };

    struct Failure {
        Refusal refusal = NONE;
        // The errno of a system failure, or the one a refusal stands for
        // (ELOOP for a link, EPERM for an owner, EINVAL for a file that is
        // not regular, EMLINK for other names).
        int error = 0;
        // The failure lies in the part of the caller's path that ends here
        // (a part met through a link counts as the link's); for a file
        // opened by name, the whole path.
        size_t partEnd = 0;
    };

    // Opens the directory at path; makeMode 0 makes nothing (a missing part
    // fails with ENOENT).  The descriptor (O_RDONLY | O_DIRECTORY |
    // O_CLOEXEC), or -1 with failure filled (failure may be null).
    static int openPath(const char* path, mode_t makeMode, Failure* failure);
    // The same for a directory other accounts may own, making nothing: the
    // ingest directory that another account's ingest process fills, and
    // the bad-file directory beside it, may be that account's, and so may
    // the parts above them; a link another account may have laid is still
    // refused, so the walk never leaves the directories they own.
    static int openOthersPath(const char* path, Failure* failure);
    // Opens the directory of path (all but its last part; the working
    // directory when it has no "/") and sets nameAt to where its last part
    // begins.
    static int openParent(const char* path, size_t* nameAt, mode_t makeMode, Failure* failure);
    // openat(dirFd, name, flags | O_NOFOLLOW | O_CLOEXEC, mode), then the
    // check on what was opened.  With O_NONBLOCK among the flags a FIFO laid
    // at the name never holds the caller.  The descriptor, or -1 with failure filled
    // (its partEnd untouched).
    static int openFileAt(int dirFd, const char* name, int flags, mode_t mode, FileCheck check,
                          Failure* failure);
    // Whether users other than this process's account and root can add to
    // or remove from the directory of this status (its group or everybody
    // may write it, or another account owns it): there a file is taken for
    // writing only when it is this account's or root's with no other name.
    static bool othersCanWrite(const struct stat& directory);
    // The reason of a failure in words: the system's text or the refusal's.
    static const char* reasonText(const Failure& failure);

    // Whose directories a walk enters where group or others may write.
    enum Entering {
        OWN_DIRECTORIES,    // this account's and root's (openPath)
        OTHERS_DIRECTORIES  // any account's, making nothing (openOthersPath)
    };

    // Opens path's directory by openPath; ok() false when it failed.
    explicit SafeDirectory(const std::string& path, mode_t makeMode = 0);
    // Opens path's directory, making nothing, by openPath or openOthersPath.
    SafeDirectory(const std::string& path, Entering entering);
    ~SafeDirectory();
    SafeDirectory(const SafeDirectory&) = delete;
    SafeDirectory& operator=(const SafeDirectory&) = delete;

    bool ok() const { return _fd >= 0; }
    int fd() const { return _fd; }
    const std::string& path() const { return _path; }
    const Failure& failure() const { return _failure; }
    // The part of the path that failed, ": " and the reason.
    std::string failureText() const;

    // Opens the file at path (its directory by openPath, making nothing;
    // then openFileAt): the descriptor, or -1 with errno set and why filled
    // with the part that failed, ": " and the reason.
    static int openFile(const std::string& path, int flags, mode_t mode, FileCheck check,
                        std::string& why);

private:
    std::string _path;
    Failure _failure;   // before _fd, which the opening that fills it gives
    int _fd;
};

#endif
