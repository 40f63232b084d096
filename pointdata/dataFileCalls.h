// File calls of the point-data store that netCDF does not make: copying a
// template into a scratch file, writing a whole buffer, and keeping a file
// the store cannot use aside.
#ifndef DATAFILECALLS_H
#define DATAFILECALLS_H

#include <cstddef>
#include <string>

// Copies the whole file from into to (created, or emptied when it exists),
// flushed to the disk.  False on any failure, errno telling why, with what
// was made of to removed again.
bool copyWholeFile(const char* from, const char* to);

// Writes all n bytes of data, going on after interruptions and partial
// writes; false, errno telling why, on a failure.
bool writeAll(int fd, const char* data, size_t n);

// Renames a file the store cannot use (a damaged data file or journal) to
// its name + ".damaged", or with a further suffix ".1", ".2", ... when that
// is taken: a name no listing of the store takes, left for the operator.
// 0, aside the name taken, or the errno of the failure.
int keepDamaged(const std::string& path, std::string& aside);

#endif
