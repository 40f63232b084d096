// The information-file search path, environment expansion and the line
// splitters.
#include "InfoFileServer.h"
#include "LogCapture.h"
#include "TempTree.h"
#include "splitFields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

Strings strings(const SeqOf<TextString>& seq)
{
    Strings out;
    for (int i = 0; i < seq.length(); ++i)
        out.push_back(seq[i].c_str());
    return out;
}

Strings searchList(const char* defaultPaths)
{
    return strings(InfoFileServer::buildSearchList(defaultPaths));
}

std::string expanded(const char* text)
{
    TextString t(text);
    expandEnvVars(t);
    return t.c_str();
}

}  // namespace

TEST(SearchListTest, OrderWithAndWithoutDefaults)
{
    TempTree tree;
    tree.setEnv("QEV_LOCALIZATION_ROOT", "/loc");
    tree.setEnv("QEV_LOCAL_SITE", "site");
    tree.setEnv("QEV_NATL_CONFIG_DATA", "/natl");
    tree.setEnv("QEV_HOME", "/qev");
    tree.setEnv("D", "/dee");

    EXPECT_EQ(searchList("a/  b/"), (Strings{"a/", "b/", ""}));
    EXPECT_EQ(searchList("+a/\tb/"),
              (Strings{"a/", "b/", "/loc/site/", "/natl/nationalData/", "/qev/data/", ""}));
    EXPECT_EQ(searchList(nullptr), (Strings{"/loc/site/", "/natl/nationalData/", "/qev/data/", ""}));
    EXPECT_EQ(searchList(""), (Strings{""}));
    // "+" is the bare name at its place; repeats keep their first place;
    // bytes of 128 and above separate like blanks.
    EXPECT_EQ(searchList("a/ + ${D}/x/ a/ $D/x/\xa0z/"), (Strings{"a/", "", "/dee/x/", "z/"}));

    // Defaults that expand alike appear once; unset variables give nothing.
    tree.setEnv("QEV_LOCALIZATION_ROOT", "/qev");
    tree.setEnv("QEV_LOCAL_SITE", "data");
    tree.setEnv("QEV_NATL_CONFIG_DATA", nullptr);
    EXPECT_EQ(searchList(nullptr), (Strings{"/qev/data/", "/nationalData/", ""}));
}

TEST(FindFileTest, DirectoriesWordsAndBars)
{
    TempTree tree;
    std::string d1 = tree.mkdirs("d1") + "/", d2 = tree.mkdirs("d2") + "/",
                d3 = tree.mkdirs("d3") + "/";
    for (const char* f : {"d1/f", "d3/f", "d3/g", "d2/only2"})
        tree.write(f, "");
    SeqOf<TextString> dirs;
    for (const std::string& d : {d1, d2, d3})
        dirs.append(d.c_str());
    auto find = [&](const std::string& name) {
        return std::string(InfoFileServer::findFile(name.c_str(), dirs).c_str());
    };

    // The first directory wins, and is the last path.
    EXPECT_EQ(find("f"), d1 + "f");
    EXPECT_STREQ(InfoFileServer::lastPath().c_str(), (d1 + "f").c_str());
    // Each word in every directory before the next word.
    EXPECT_EQ(find("missing g f"), d3 + "g");
    // Nothing found: the last path is the last candidate tried.
    EXPECT_EQ(find("nothing"), "");
    EXPECT_STREQ(InfoFileServer::lastPath().c_str(), (d3 + "nothing").c_str());

    // Bars: the name as given, then the listed directories only...
    EXPECT_EQ(find(d1 + "|" + d2 + "|only2"), d2 + "only2");
    EXPECT_EQ(find(d1 + "|g"), "");
    // ...unless a leading plus keeps the search list in front of them.
    EXPECT_EQ(find("+" + d2 + "|f"), d1 + "f");
    EXPECT_EQ(find("+" + d3 + "|only2"), d2 + "only2");
    // Without a bar the plus is part of the word; words are expanded.
    EXPECT_EQ(find("+f"), "");
    tree.setEnv("D3", d3.c_str());
    EXPECT_EQ(find("|$D3/g"), d3 + "/g");
}

TEST(ExpandEnvVarsTest, ReferencesBoundsAndFilesOpenedForWriting)
{
    TempTree tree;
    tree.setEnv("A", "alpha");
    tree.setEnv("B", "$A/beta");
    tree.setEnv("UNSET_FOR_TEST", nullptr);
    EXPECT_EQ(expanded("x/${A}/y$A$A"), "x/alpha/yalphaalpha");
    EXPECT_EQ(expanded("$B}z"), "alpha/betaz");
    EXPECT_EQ(expanded("a$UNSET_FOR_TEST/b cost: $"), "a/b cost: ");

    // Values that refer to themselves stop, logged, instead of running on.
    tree.setEnv("SELF", "x/$SELF");
    tree.setEnv("TWICE", "$TWICE$TWICE");
    LogCapture log;
    expanded("$SELF");
    expanded("$TWICE");
    EXPECT_EQ(log.count("do not end; expansion stopped"), 2);

    // A name to write is expanded and trimmed; one that expands to nothing
    // opens nothing.
    tree.setEnv("OUTDIR", tree.root().c_str());
    TextString name(" \t$OUTDIR/out.txt \n");
    FILE* out = InfoFileServer::openForWriting(name);
    ASSERT_NE(out, nullptr);
    fclose(out);
    EXPECT_EQ(std::string(name.c_str()), tree.root() + "/out.txt");
    EXPECT_TRUE(InfoFileServer::exists(name));
    TextString blank(" $UNSET_FOR_TEST ");
    EXPECT_EQ(InfoFileServer::openForWriting(blank), nullptr);
}

TEST(SplitTest, FieldsLinesAndWords)
{
    char text[] = " a | b c\t|";
    char* fields[5];
    ASSERT_EQ(splitFields(text, fields, 5, '|'), 3);
    EXPECT_EQ((Strings{fields[0], fields[1], fields[2]}), (Strings{"a", "b c", ""}));
    char more[] = "1|2|3|4";
    ASSERT_EQ(splitFields(more, fields, 2, '|'), 2);
    EXPECT_STREQ(fields[1], "2");
    EXPECT_EQ(splitFields(more, fields, 0, '|'), 0);

    SeqOf<TextString> out;
    splitTextLine(" a |b  | ", '|', out);
    EXPECT_EQ(strings(out), (Strings{"a", "b", ""}));
    splitWords("  one\ttwo  three ", out);
    EXPECT_EQ(strings(out), (Strings{"one", "two", "three"}));
}
