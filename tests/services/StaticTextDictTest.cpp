// Number-keyed text dictionaries over real files: indexing, reading lines
// back, reloading, the rotating buffer and override files.
#include "LogCapture.h"
#include "StaticTextDict.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

namespace {

// Records that point at the line where the dictionary put it, as a subclass
// splitting lines in place does; allocated, so that a record disposed of
// twice or never shows under the sanitizers.
class LineDict : public StaticTextDict {
public:
    LineDict(const std::string& file, int bufferSize, const std::string& dictName = "")
        : StaticTextDict(file.c_str(), bufferSize, dictName.c_str())
    {
    }
    ~LineDict() override { clearRecords(); }

    const char* text(unsigned long key)
    {
        char** record = static_cast<char**>(lookup(key));
        return record ? *record : nullptr;
    }

    int parsed = 0;
    int deleted = 0;
    // Runs once when the dictionary next disposes of a record.
    std::function<void()> onDelete;

protected:
    void* parseLine(unsigned long, char* line) override
    {
        ++parsed;
        return new char*(line);
    }
    void deleteRecord(void* record) override
    {
        if (!record)
            return;
        ++deleted;
        delete static_cast<char**>(record);
        if (auto f = std::move(onDelete)) {
            onDelete = nullptr;
            f();
        }
    }
};

int32_t fakeSeconds = 1000000;
int32_t fakeClock() { return fakeSeconds; }

} // namespace

TEST(StaticTextDictTest, KeyFormsIndexingAndReadBack)
{
    TempTree tree;
    std::string more = tree.write("more.txt", "500 included\n");
    std::string file = tree.path("dict.txt");
    tree.write("dict.txt", "// comment\n# comment\n123 decimal\n0x1f hex\n017 octal\n"
                           "y1f base32\n   42 indented\n\t9 tab\nabc counted\n7 first\n"
                           "7 second\n#include \"" + more + "\"\n#include \"" + file + "\"\n");
    LogCapture log;
    LineDict d(file, 2000);
    EXPECT_EQ(log.count("skipped: it is already being read"), 2);  // counting and indexing
    EXPECT_EQ(d.keyCount(), 9);
    const unsigned long keys[] = {123, 31, 15, 47, 42, 7, 7, 500, 0, 0};
    for (int i = -1; i < 10; ++i)
        EXPECT_EQ(d.keyAt(i), keys[i < 0 ? 9 : i]) << i;
    EXPECT_STREQ(d.text(42), "42 indented");
    EXPECT_STREQ(d.text(7), "7 second");
    EXPECT_STREQ(d.text(47), "y1f base32");
    EXPECT_STREQ(d.text(500), "500 included");
    EXPECT_FALSE(d.fromOverride());
    EXPECT_EQ(d.text(9), nullptr);
    EXPECT_FALSE(d.contains(9));

    // A last line without a newline is read back whole and stays intact.
    LineDict unended(tree.write("unended.txt", "1 alpha\n2 beta"), 2000);
    const char* beta = unended.text(2);
    unended.text(1);
    EXPECT_STREQ(beta, "2 beta");

    char blanks[] = "   ";
    char padded[] = "  ab c  ";
    EXPECT_STREQ(StaticTextDict::trimBlanks(blanks), "");
    EXPECT_STREQ(StaticTextDict::trimBlanks(padded), "ab c");
}

TEST(StaticTextDictTest, ReloadsOnAMismatchThenDisablesOnTheSecond)
{
    TempTree tree;
    LogCapture log;
    std::string file = tree.write("dict.txt", "7 seven\n8 eight\n");
    LineDict d(file, 2000);
    LineDict o(tree.write("other.txt", "1 one\n2 two\n"), 2000);

    // Key 7's offset now starts key 8's line.
    ASSERT_STREQ(d.text(8), "8 eight");
    tree.write("dict.txt", "8 eight\n7 seven\n"); // in place: the same inode
    EXPECT_STREQ(d.text(7), "7 seven");
    EXPECT_EQ(log.count("EVENT: Reinitializing " + file + " in StaticTextDict"), 1);
    EXPECT_EQ(d.deleted, 1);

    // A file that does not open counts as a mismatch and is opened again
    // after the reload (here it is back by then).
    ASSERT_STREQ(o.text(1), "1 one");
    unlink(file.c_str());
    d.onDelete = [&] { tree.write("dict.txt", "8 eight\n7 seven\n"); };
    EXPECT_STREQ(d.text(8), "8 eight");
    EXPECT_EQ(log.count("Reinitializing"), 2);

    // Gone for good: the reload keeps the old index, the retry fails again.
    ASSERT_STREQ(o.text(2), "2 two");
    unlink(file.c_str());
    log.clear();
    EXPECT_EQ(d.text(7), nullptr);
    EXPECT_TRUE(log.contains("PROBLEM: Could not open " + file + " in StaticTextDict"));
    EXPECT_TRUE(log.contains("BUG: Consecutive failures to reinitialize " + file +
                             " table. No further lookups possible."));
    tree.write("dict.txt", "8 eight\n7 seven\n");
    EXPECT_EQ(d.text(8), nullptr);
    EXPECT_EQ(log.count("Reinitializing"), 1);
}

TEST(StaticTextDictTest, RotatingBufferDisposesOfTheOldestRecord)
{
    TempTree tree;
    LogCapture log;
    std::string file = tree.write("dict.txt", "1 a\n2 b\n3 c\n");
    LineDict d(file, 2);
    d.text(1);
    d.text(2);
    d.text(2);
    EXPECT_EQ(d.parsed, 2);
    d.text(3);
    EXPECT_EQ(d.deleted, 1);
    EXPECT_EQ(log.count("EVENT: Rotating buffer cycled for file " + file), 1);
    EXPECT_STREQ(d.text(1), "1 a");
    EXPECT_EQ(d.parsed, 4);
}

TEST(StaticTextDictTest, OverrideFilesSupplyMissingKeysForTenMinutes)
{
    TempTree tree;
    LogCapture log;
    StaticTextDict::setClock(fakeClock);
    // A name longer than a fixed 76-byte name area would take.
    std::string name = "qevtest" + std::to_string(getpid()) + std::string(100, 'n');
    std::string good = "/tmp/4242." + name;
    std::string bad = "/tmp/4343." + name;
    std::ofstream(good) << "4242 from override\n";
    std::ofstream(bad) << "4344 another key\n";

    LineDict d(tree.path("absent.txt"), 2000, name);
    EXPECT_EQ(log.count("PROBLEM: Could not open"), 1);
    EXPECT_STREQ(d.text(4242), "4242 from override");
    EXPECT_TRUE(d.fromOverride());
    fakeSeconds += 599;
    d.text(4242);
    EXPECT_EQ(d.parsed, 1);
    fakeSeconds += 1;
    EXPECT_STREQ(d.text(4242), "4242 from override");
    EXPECT_EQ(d.parsed, 2);
    unlink(good.c_str());
    fakeSeconds += 600;
    EXPECT_EQ(d.text(4242), nullptr);

    EXPECT_EQ(d.text(4343), nullptr);
    EXPECT_FALSE(log.contains("Reinitializing"));
    LineDict unnamed(tree.path("absent.txt"), 2000);
    EXPECT_EQ(unnamed.text(4343), nullptr);

    unlink(bad.c_str());
    StaticTextDict::setClock(nullptr);
}
