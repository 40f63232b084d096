// File calls of the point-data store that netCDF does not make: copying a
// template into a scratch file, writing a whole buffer, and keeping a file
// the store cannot use aside.
#ifndef DATAFILECALLS_H
#define DATAFILECALLS_H

#include <cstddef>
#include <string>

// Copies the whole file from into to, both names in the directory dirFd
// (opened by SafeDirectory), to created, or emptied when it exists, and
// flushed to the disk.  Neither is taken through a link laid at its name, nor
// when it is not a regular file; where other users can write the directory,
// to only as a file of this process's own.  False on any failure, why
// telling it (the name and the reason), with what was made of to removed
// again.
bool copyWholeFile(int dirFd, const std::string& directory, const char* from, const char* to,
                   std::string& why);

// Writes all n bytes of data, going on after interruptions and partial
// writes; false, errno telling why, on a failure.
bool writeAll(int fd, const char* data, size_t n);

// Renames a file the store cannot use (a damaged data file or journal) to
// its name + ".damaged", or with a further suffix ".1", ".2", ... when that
// is taken: a name no listing of the store takes, left for the operator.
// The directory is opened by SafeDirectory, so that a link laid in place of
// a part of its path never takes the rename elsewhere.
// 0, aside the name taken, or the errno of the failure.
int keepDamaged(const std::string& path, std::string& aside);

#endif
