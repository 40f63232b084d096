// Text files read whole (TextBuffer) and line by line (TextFileParser),
// with comments, continuations and nested includes.
#include "LogCapture.h"
#include "TempTree.h"
#include "TextBuffer.h"
#include "TextFileParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

Strings bufferLines(const std::string& path)
{
    TextBuffer buffer(path.c_str());
    Strings out;
    const SeqOf<TextString>& lines = buffer.lines;
    for (int i = 0; i < lines.length(); ++i)
        out.push_back(lines[i].c_str());
    return out;
}

// Every line the parser gives, each with its location.
Strings parsedLines(const std::string& path, bool withLocation = false)
{
    TextFileParser parser;
    Strings out;
    if (!parser.pushFile(path.c_str()))
        return {"<not opened>"};
    TextString line;
    while (parser.nextLine(line))
        out.push_back(std::string(line.c_str()) +
                      (withLocation ? std::string(" @ ") + parser.location().c_str() : ""));
    return out;
}

// The path under which the search finds a file.
std::string found(const std::string& path)
{
    return InfoFileServer::findFile(path.c_str()).c_str();
}

std::string include(const std::string& path)
{
    return "#include \"" + path + "\"\n";
}

}  // namespace

TEST(TextBufferTest, CommentsContinuationsAndLongLines)
{
    TempTree tree;
    // The second "//" straddles the end of the first 198-byte read piece;
    // a continuation joins a line of more than two pieces.
    std::string a(197, 'a'), b(450, 'b');
    std::string path = tree.write("a.txt", "text // comment\n// whole line\n\n"
                                           "url = \"http://host/x\"\nfirst \\\nsecond\\\n"
                                           "third\n#include no quotes\n" +
                                               a + "//comment\n" + b + "\\\ntail\nlast");
    EXPECT_EQ(bufferLines(path), (Strings{"text ", "", "url = \"http:", "first secondthird",
                                          "#include no quotes", a, b + "tail", "last"}));
    EXPECT_TRUE(bufferLines(tree.path("missing")).empty());
}

TEST(TextBufferTest, IncludesNestAndCyclesAreSkipped)
{
    TempTree tree;
    std::string c = tree.write("c.txt", "c1\n");
    std::string b = tree.write("b.txt", "b1\n" + include(c) + "b2\n");
    std::string a = tree.path("a.txt");
    tree.write("a.txt", "a1\n" + include(b) + include(tree.path("gone")) + include(a) + "a2\n");

    LogCapture log;
    EXPECT_EQ(bufferLines(a), (Strings{"a1", "b1", "c1", "b2", "a2"}));
    EXPECT_EQ(log.count("Include of " + found(a) + " skipped: it is already being read"), 1);

    TextBuffer buffer(a.c_str());
    EXPECT_FALSE(buffer.write(tree.path("no/such/dir").c_str()));
    tree.setEnv("OUT", tree.root().c_str());
    EXPECT_TRUE(buffer.write("$OUT/written.txt"));
    EXPECT_EQ(TempTree::readFile(tree.path("written.txt")), "a1\nb1\nc1\nb2\na2\n");
}

TEST(TextFileParserTest, CommentsBlankLinesAndLongLines)
{
    TempTree tree;
    std::string longLine(250, 'x');
    std::string path = tree.write("p.txt", "# comment\n\nvalue # note\n  // kept\n// dropped\n" +
                                               longLine + "\nlast");
    EXPECT_EQ(parsedLines(path), (Strings{"value ", "  // kept", longLine, "last"}));
    std::string none = tree.write("none.txt", "# c\n// d\n\n\n#\n");
    EXPECT_TRUE(parsedLines(none).empty());
    EXPECT_EQ(parsedLines(tree.path("missing")), (Strings{"<not opened>"}));
}

TEST(TextFileParserTest, IncludesKeepLineNumbersOfEachFile)
{
    TempTree tree;
    std::string c = tree.write("c.txt", "c1");  // no newline at the end
    std::string b = tree.write("b.txt", "\nb2\n" + include(c) + "b4\n");
    std::string a = tree.path("a.txt");
    tree.write("a.txt", "a1\n" + include(b) + include(tree.path("gone")) + "a4\n" +
                            include(a) + "#include nothing quoted\n" + "a7\n");

    LogCapture log;
    EXPECT_EQ(parsedLines(a, true), (Strings{
                                        "a1 @ line 1 in file " + found(a),
                                        "b2 @ line 2 in file " + found(b),
                                        "c1 @ line 1 in file " + found(c),
                                        "b4 @ line 4 in file " + found(b),
                                        "a4 @ line 4 in file " + found(a),
                                        "a7 @ line 7 in file " + found(a),
                                    }));
    EXPECT_EQ(log.count("Include of " + found(a) + " skipped: it is already being read"), 1);
    EXPECT_EQ(log.count("#include without a quoted file name at line 6 in file " + found(a)),
              1);
}

TEST(TextFileParserTest, NestingIsCappedAndCyclesThroughOthersStop)
{
    TempTree tree;
    // f0 includes f1 ... f19; only 16 files are open at once.
    const int files = 20;
    for (int i = 0; i < files; ++i)
        tree.write("f" + std::to_string(i),
                   "line" + std::to_string(i) + "\n" +
                       (i + 1 < files ? include(tree.path("f" + std::to_string(i + 1))) : ""));
    // x includes y, which includes x again.
    std::string x = tree.path("x");
    std::string y = tree.write("y", "y\n" + include(x));
    tree.write("x", "x\n" + include(y) + "x-end\n");

    LogCapture log;
    Strings expected;
    for (int i = 0; i < 16; ++i)
        expected.push_back("line" + std::to_string(i));
    EXPECT_EQ(parsedLines(tree.path("f0")), expected);
    EXPECT_EQ(log.count("more than 16 files nested"), 1);
    EXPECT_EQ(parsedLines(x), (Strings{"x", "y", "x-end"}));
    EXPECT_EQ(bufferLines(x), (Strings{"x", "y", "x-end"}));
    EXPECT_EQ(bufferLines(tree.path("f0")).size(), 16u);
}
