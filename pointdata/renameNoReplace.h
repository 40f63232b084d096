// Renaming a file without ever replacing another one.
#ifndef RENAMENOREPLACE_H
#define RENAMENOREPLACE_H

// Renames from to to unless to is taken: 0 on success, otherwise the errno
// of the failure (EEXIST when to is taken; from is then left where it was).
// The test of the target and the rename are one step (renameat2 with
// RENAME_NOREPLACE; on a file system without it, link then unlink).
int renameNoReplace(const char* from, const char* to);

#endif
