// Errors injected into this process's own file calls, as a failing disk
// gives them, for the tests of what the store does then: the real store and
// the real netCDF library meet them on real files.  The calls are the test
// executable's own definitions of openat, read, write, pwrite, fsync
// and fdatasync, which the dynamic linker binds the netCDF library's reads
// and writes to as well (its opens, and the C library's reads under stdio,
// pass them by); each passes to the system's call unless a rule takes it.
//
// A rule names a kind of call, the files it touches (the end of their path:
// of the path opened, or of the name of the open descriptor), the error
// given and how many matching calls fail after how many pass.  The writes
// to files that are watched are noted by the pages they touch, so that a
// test can build the disk as a power loss leaves it after a failed sync
// (the pages dirty at the failure never written, unless written again
// since).  Main thread only; linking this file into a test executable is
// what puts the calls in place.
#ifndef IOFAULTS_H
#define IOFAULTS_H

#include <set>
#include <string>

namespace IoFaults {

enum Call { OPEN, READ, WRITE, SYNC };

const long long PAGE = 4096;

// From now on, after `skip` matching calls pass, `count` more (-1: every
// one) of that kind on a file whose path ends with suffix fail with error.
void fail(Call call, const std::string& suffix, int error, int count = -1, int skip = 0);
// Forgets every rule (and every watch).
void clear();
// Calls failed by the rules since the last clear.
int failed();

// Notes from now on the pages written to files whose path ends with suffix;
// pagesWritten gives them (and watching again forgets them).
void watch(const std::string& suffix);
std::set<long long> pagesWritten();

// The bytes a file holds on a disk after a power loss, when its sync failed
// with the file as `atFailure` (the page cache then) while the disk held
// `synced` (its last good sync), and it holds `now` in the page cache: the
// pages that differed at the failure and were not written since hold what
// the disk held (zeros past its end); every other page what it holds now.
std::string crashState(const std::string& synced, const std::string& atFailure,
                       const std::string& now, const std::set<long long>& writtenSince);

} // namespace IoFaults

#endif
