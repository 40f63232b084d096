// File calls of the point-data store that netCDF does not make: copying a
// template into a scratch file, and writing a whole buffer.
#ifndef DATAFILECALLS_H
#define DATAFILECALLS_H

#include <cstddef>

// Copies the whole file from into to (created, or emptied when it exists),
// flushed to the disk.  False on any failure, errno telling why, with what
// was made of to removed again.
bool copyWholeFile(const char* from, const char* to);

// Writes all n bytes of data, going on after interruptions and partial
// writes; false, errno telling why, on a failure.
bool writeAll(int fd, const char* data, size_t n);

#endif
