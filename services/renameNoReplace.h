// Renaming a file without ever replacing another one.
//
// Both functions are async-signal-safe (system calls and byte copies, no
// allocation, no locks): the fatal-signal path moves the file being decoded
// aside with them.
#ifndef RENAMENOREPLACE_H
#define RENAMENOREPLACE_H

#include <cstddef>

// The highest suffix renameToFreeNameAt tries.
const int RENAME_MAX_SUFFIX = 9999;

// Renames from to to unless to is taken: 0 on success, otherwise the errno
// of the failure (EEXIST when to is taken; from is then left where it was).
// The test of the target and the rename are one step (renameat2 with
// RENAME_NOREPLACE; on a file system without it, link then unlink).
int renameNoReplace(const char* from, const char* to);
// The same with from relative to the directory fromDir and to relative to
// toDir (descriptors, or AT_FDCWD).
int renameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to);

// Renames from to to or, while that name is taken, to the first free one
// of to + ".1", to + ".2", ... to + "." + RENAME_MAX_SUFFIX; a file name
// (the last component) too long to take its suffix within NAME_MAX bytes
// loses characters from its start, so that it keeps its end: 0 on success,
// otherwise the errno of the last attempt (EEXIST when every name is taken,
// ENAMETOOLONG when a name does not fit into used).  used (usedSize bytes)
// receives the name taken, or on failure the last name tried.  from is
// relative to the directory fromDir, to (and used) relative to toDir
// (descriptors, or AT_FDCWD).
int renameToFreeNameAt(int fromDir, const char* from, int toDir, const char* to, char* used,
                       size_t usedSize);

#endif
