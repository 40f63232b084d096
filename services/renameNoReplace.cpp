#include "renameNoReplace.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int renameNoReplace(const char* from, const char* to)
{
    return renameNoReplaceAt(AT_FDCWD, from, AT_FDCWD, to);
}

int renameNoReplaceAt(int fromDir, const char* from, int toDir, const char* to)
{
    if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // The file system cannot rename without replacing: a hard link fails on
    // a taken name, and the old name goes only once the new one holds the
    // file.  When the old name cannot go, the new one goes again, so that
    // a move that failed leaves no second name behind (nor one more on
    // each later try).
    if (linkat(fromDir, from, toDir, to, 0) != 0)
        return errno;
    if (unlinkat(fromDir, from, 0) != 0) {
        const int error = errno;
        unlinkat(toDir, to, 0);
        return error;
    }
    return 0;
}

int renameToFreeNameAt(int fromDir, const char* from, int toDir, const char* to, char* used,
                       size_t usedSize)
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
    size_t nameStart = length;
    while (nameStart > 0 && to[nameStart - 1] != '/')
        --nameStart;
    const size_t nameLength = length - nameStart;

    int error = EEXIST;
    for (int suffix = 0; error == EEXIST && suffix <= RENAME_MAX_SUFFIX; ++suffix) {
        // "." + suffix, built by hand: no stdio on a signal's path.
        char text[8];
        size_t textLength = 0;
        if (suffix > 0) {
            char digits[8];
            int count = 0;
            for (int rest = suffix; rest > 0; rest /= 10)
                digits[count++] = static_cast<char>('0' + rest % 10);
            text[textLength++] = '.';
            while (count > 0)
                text[textLength++] = digits[--count];
        }
        // A name that cannot take its suffix within the longest file name
        // loses characters from its start: its end, which tells one
        // bulletin from another of the same kind, stays.
        const size_t wanted = nameLength + textLength;
        const size_t over = wanted > NAME_MAX ? wanted - NAME_MAX : 0;
        const size_t dropped = over < nameLength ? over : nameLength;
        char* end = used + nameStart;
        std::memcpy(used, to, nameStart);
        std::memcpy(end, to + nameStart + dropped, nameLength - dropped);
        end += nameLength - dropped;
        std::memcpy(end, text, textLength);
        end[textLength] = '\0';
        error = renameNoReplaceAt(fromDir, from, toDir, used);
    }
    return error;
}
