// Notes for log lines about paths made from environment variables.
#ifndef ENVIRONMENTNOTES_H
#define ENVIRONMENTNOTES_H

#include <string>

// " (NAME is not set)" when the environment variable is unset or empty,
// otherwise empty: a line that names a path made from it then says why the
// path is not where the installation is (" /point/acars/netcdf/template").
std::string unsetNote(const char* variable);

#endif
