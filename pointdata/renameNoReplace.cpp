#include "renameNoReplace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int renameNoReplace(const char* from, const char* to)
{
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // The file system cannot rename without replacing: a hard link fails on
    // a taken name, and the old name goes only once the new one holds the
    // file.
    if (link(from, to) != 0)
        return errno;
    if (unlink(from) != 0)
        return errno;
    return 0;
}
