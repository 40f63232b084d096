// File calls of the point-data store that netCDF does not make: copying a
// template into a scratch file and giving the copy its final name.
#ifndef DATAFILECALLS_H
#define DATAFILECALLS_H

// Copies the whole file from into to (created, or emptied when it exists),
// flushed to the disk.  False on any failure, with what was made of to
// removed again.
bool copyWholeFile(const char* from, const char* to);

// Renames from to to unless to exists: 0 when renamed, else the errno of the
// failure (EEXIST when to exists; from is then left as it is).
int renameNoReplace(const char* from, const char* to);

#endif
