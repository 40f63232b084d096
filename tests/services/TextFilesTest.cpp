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

// Every line the parser gives, each with its location when asked.
Strings parsedLines(const std::string& path, bool withLocation = false)
{
    TextFileParser parser;
    if (!parser.pushFile(path.c_str()))
        return {"<not opened>"};
    Strings out;
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

TEST(TextBufferTest, CommentsContinuationsLongLinesAndWriting)
{
    TempTree tree;
    // The second "//" straddles the end of the first 198-byte read piece;
    // a continuation joins a line of more than two pieces.
    std::string a(197, 'a'), b(450, 'b');
    std::string path = tree.write("a.txt", "text // comment\n// whole line\n\n"
                                           "url = \"http://host/x\"\nfirst \\\nsecond\\\n"
                                           "third\n#include no quotes\n" +
                                               a + "//comment\n" + b + "\\\ntail\nlast");
    const Strings expected = {"text ", "", "url = \"http:", "first secondthird",
                              "#include no quotes", a, b + "tail", "last"};
    EXPECT_EQ(bufferLines(path), expected);
    EXPECT_TRUE(bufferLines(tree.path("missing")).empty());

    TextBuffer buffer(tree.write("short.txt", "one\n\ntwo").c_str());
    EXPECT_FALSE(buffer.write(tree.path("no/such/dir").c_str()));
    tree.setEnv("OUT", tree.root().c_str());
    EXPECT_TRUE(buffer.write("$OUT/written.txt"));
    EXPECT_EQ(TempTree::readFile(tree.path("written.txt")), "one\n\ntwo\n");
}

TEST(TextFileParserTest, CommentsBlankLinesAndLongLines)
{
    TempTree tree;
    std::string longLine(250, 'x');
    std::string path = tree.write("p.txt", "# comment\n\nvalue # note\n  // kept\n// dropped\n" +
                                               longLine + "\nlast");
    EXPECT_EQ(parsedLines(path), (Strings{"value ", "  // kept", longLine, "last"}));
    EXPECT_TRUE(parsedLines(tree.write("none.txt", "# c\n// d\n\n\n#\n")).empty());
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

// Both readers: includes nest (a missing one is left out), a file that is
// already being read is skipped, and only 16 files are open at once.
TEST(TextFilesTest, IncludesNestCyclesAreSkippedAndNestingIsCapped)
{
    TempTree tree;
    const int files = 20;  // f0 includes f1 ... f19
    for (int i = 0; i < files; ++i)
        tree.write("f" + std::to_string(i),
                   "line" + std::to_string(i) + "\n" +
                       (i + 1 < files ? include(tree.path("f" + std::to_string(i + 1))) : ""));
    Strings sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen.push_back("line" + std::to_string(i));
    // x includes y, which includes x again, then x itself.
    std::string x = tree.path("x");
    std::string y = tree.write("y", "y\n" + include(x));
    tree.write("x", "x\n" + include(y) + include(tree.path("gone")) + include(x) + "x-end\n");

    LogCapture log;
    EXPECT_EQ(parsedLines(tree.path("f0")), sixteen);
    EXPECT_EQ(bufferLines(tree.path("f0")), sixteen);
    EXPECT_EQ(log.count("more than 16 files nested"), 2);
    EXPECT_EQ(parsedLines(x), (Strings{"x", "y", "x-end"}));
    EXPECT_EQ(bufferLines(x), (Strings{"x", "y", "x-end"}));
    EXPECT_EQ(log.count("Include of " + found(x) + " skipped: it is already being read"), 4);
}
