// The information files every test of this folder reads, written once into
// the process's $QEV_HOME/data before the first test (the dictionaries and
// radar tables are read once per process): the data-access dictionary, a
// static product file, the radar information dictionary and the four radar
// key files.
#ifndef KEYFILES_H
#define KEYFILES_H

#include <string>

// The folder the files are in (the process's own $QEV_HOME/data, also
// while a test's TempTree points QEV_HOME elsewhere).
std::string keyFilesDirectory();

#endif
