#include "renameNoReplace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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
    // file.  When the old name cannot go, the new one goes again, so that
    // a move that failed leaves no second name behind (nor one more on
    // each later try).
    if (link(from, to) != 0)
        return errno;
    if (unlink(from) != 0) {
        const int error = errno;
        unlink(to);
        return error;
    }
    return 0;
}

int renameToFreeName(const char* from, const char* to, char* used, size_t usedSize)
{
    if (usedSize == 0)
        return ENAMETOOLONG;
    // Room for the longest suffix, so that every name tried fits.
    const size_t length = std::strlen(to);
    const size_t longestSuffix = 1 + std::strlen("9999");
    static_assert(RENAME_MAX_SUFFIX == 9999, "longestSuffix counts its digits");
    if (length + longestSuffix >= usedSize) {
        const size_t kept = length < usedSize ? length : usedSize - 1;
        std::memcpy(used, to, kept);
        used[kept] = '\0';
        return ENAMETOOLONG;
    }
    std::memcpy(used, to, length + 1);
    int error = renameNoReplace(from, used);
    for (int suffix = 1; error == EEXIST && suffix <= RENAME_MAX_SUFFIX; ++suffix) {
        // to + "." + suffix, built by hand: no stdio on a signal's path.
        char* end = used + length;
        *end++ = '.';
        char digits[8];
        int count = 0;
        for (int rest = suffix; rest > 0; rest /= 10)
            digits[count++] = static_cast<char>('0' + rest % 10);
        while (count > 0)
            *end++ = digits[--count];
        *end = '\0';
        error = renameNoReplace(from, used);
    }
    return error;
}
