// Moving a file aside under a free name: taken names are never replaced.
#include "renameNoReplace.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <climits>
#include <string>

TEST(RenameToFreeName, TakesTheFirstFreeSuffixAndReplacesNothing)
{
    TempTree tree;
    const std::string from = tree.write("in/A", "new");
    tree.write("bad/A", "first");
    tree.write("bad/A.1", "second");
    const std::string to = tree.path("bad/A");
    char used[PATH_MAX];

    EXPECT_EQ(renameToFreeNameAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), used, sizeof used), 0);
    EXPECT_EQ(std::string(used), to + ".2");
    EXPECT_EQ(TempTree::readFile(to), "first");
    EXPECT_EQ(TempTree::readFile(to + ".1"), "second");
    EXPECT_EQ(TempTree::readFile(to + ".2"), "new");
    EXPECT_FALSE(TempTree::exists(from));

    // A source that is gone stops at the first name; a name that cannot
    // take every suffix moves nothing.
    EXPECT_EQ(renameToFreeNameAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), used, sizeof used), ENOENT);
    const std::string other = tree.write("in/B", "b");
    char small[16];
    EXPECT_EQ(renameToFreeNameAt(AT_FDCWD, other.c_str(), AT_FDCWD, "nodir/123456", small, sizeof small),
              ENAMETOOLONG);
    EXPECT_STREQ(small, "nodir/123456");
    EXPECT_TRUE(TempTree::exists(other));
}
