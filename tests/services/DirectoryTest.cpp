// Directory listings: filters, sorting and purging old files.
#include "Directory.h"
#include "LogCapture.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <utime.h>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

Strings listing(const Directory& d)
{
    Strings out;
    for (int i = 0; i < d.count(); ++i)
        out.push_back(d.fileName(i).c_str());
    return out;
}

Strings scanned(Directory& d)
{
    d.scan();
    return listing(d);
}

void setModified(const std::string& path, time_t t)
{
    struct utimbuf times = {t, t};
    ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

}  // namespace

TEST(DirectoryTest, FiltersSortingAndFailuresThatKeepTheListing)
{
    TempTree tree;
    for (const char* name : {"b_2.bufr", "A_1.BUFR", "c_3.txt", ".hidden", "a_4.bufr"})
        tree.write(std::string("listed/") + name, "");
    Directory d;
    d.directory = tree.path("listed").c_str();
    EXPECT_EQ(scanned(d).size(), 4u);

    d.sort = true;
    d.includeDotFiles = true;
    EXPECT_EQ(scanned(d),
              (Strings{".", "..", ".hidden", "A_1.BUFR", "a_4.bufr", "b_2.bufr", "c_3.txt"}));
    d.includeDotFiles = false;
    d.prefix = "a_";
    d.suffix = ".bufr";
    EXPECT_EQ(scanned(d), (Strings{"a_4.bufr"}));

    d.prefix = d.suffix = "";
    d.usePattern = true;
    d.pattern = "bufr";  // anywhere in the name
    EXPECT_EQ(scanned(d), (Strings{"a_4.bufr", "b_2.bufr"}));
    d.patternFlags = 1;
    EXPECT_EQ(scanned(d), (Strings{"A_1.BUFR", "a_4.bufr", "b_2.bufr"}));
    d.patternFlags = 2;
    d.pattern = "^[ab]_[0-9]+\\.(bufr|txt)$";
    EXPECT_EQ(scanned(d), (Strings{"a_4.bufr", "b_2.bufr"}));
    d.patternFlags = 0;
    d.pattern = "_[0-9]\\{1\\}\\.[bt]";
    EXPECT_EQ(scanned(d), (Strings{"a_4.bufr", "b_2.bufr", "c_3.txt"}));
    EXPECT_TRUE(d.fileName(3).length() == 0 && d.fileName(-1).length() == 0);

    // Failures keep the previous listing.
    LogCapture log;
    d.patternFlags = 7;
    d.scan();
    d.patternFlags = 2;
    d.pattern = "(unclosed";
    d.scan();
    d.usePattern = false;
    d.directory = tree.path("absent").c_str();
    EXPECT_EQ(scanned(d), (Strings{"a_4.bufr", "b_2.bufr", "c_3.txt"}));
    EXPECT_EQ(log.count("BUG: Unknown flag in regexpMatch."), 1);
    EXPECT_EQ(log.count("BUG: "), 2);
    EXPECT_EQ(log.count("error from opendir() for dir name: " + tree.path("absent") + " - "), 1);
    d.directory = tree.mkdirs("empty").c_str();
    EXPECT_EQ(scanned(d).size(), 0u);

    for (const char* n : {"z", "d", "c", "b", "a", "y"})
        d.names.append(n);
    d.sortNames(1, 4);
    EXPECT_EQ(listing(d), (Strings{"z", "a", "b", "c", "d", "y"}));
}

TEST(DirectoryTest, PurgeBeforeUsesFullPathsAndKeepsTheWorkingDirectory)
{
    TempTree tree;
    std::string dir = tree.mkdirs("purge");
    time_t now = time(nullptr);
    setModified(tree.write("purge/old1", "x"), now - 3 * 86400);
    setModified(tree.write("purge/old2", "x"), now - 2 * 86400);
    setModified(tree.write("purge/new", "x"), now);
    tree.mkdirs("purge/olddir/inner");
    setModified(dir + "/olddir", now - 5 * 86400);

    char before[4096], after[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    Directory d;
    d.directory = (dir + "/").c_str();
    d.sort = true;
    d.scan();
    LogCapture log;
    // olddir cannot be unlinked: reported, its name kept, the others go on.
    EXPECT_FALSE(d.purge(1));
    EXPECT_EQ(listing(d), (Strings{"new", "olddir"}));
    EXPECT_EQ(TempTree::listFiles(dir), (Strings{"new"}));
    EXPECT_EQ(log.count("Removing old"), 2);
    EXPECT_EQ(log.count("unlink olddir error: "), 1);
    EXPECT_STREQ(before, getcwd(after, sizeof after));

    // A listed name gone from the disk stops the purge.
    d.names.append("vanished");
    EXPECT_FALSE(d.purgeBefore(AbsTime::now()));
    EXPECT_EQ(log.count("stat error on file vanished: "), 1);
    d.directory = tree.path("absent").c_str();
    EXPECT_FALSE(d.purgeBefore(AbsTime::now()));
    EXPECT_EQ(log.count("Error in chdir to " + tree.path("absent") + ": "), 1);
}
