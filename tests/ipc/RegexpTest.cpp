// The routing layer's regular-expression engine: matches compared with the
// expected ones, with and without the compiler's short-cuts, groups, error
// texts and the bounds of a match.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "LogCapture.h"
#include "qvRegexp.h"

namespace {

struct FreeRegexp {
    void operator()(QvRegexp* r) const { std::free(r); }
};
typedef std::unique_ptr<QvRegexp, FreeRegexp> Compiled;

Compiled compile(const std::string& expression)
{
    return Compiled(qvRegcomp(expression.c_str()));
}

// The matched text of entry n, or "-" for no match (or an unset group).
std::string matched(const QvRegexp& r, int n)
{
    if (!r.startp[n] || !r.endp[n])
        return "-";
    return std::string(r.startp[n], r.endp[n]);
}

std::string run(QvRegexp* r, const std::string& text)
{
    return qvRegexec(r, text.c_str()) ? matched(*r, 0) : "-";
}

struct Case {
    const char* expression;
    const char* text;
    const char* match;  // "-": no match
};

const Case cases[] = {
    {"a|b", "xb", "b"},
    {"", "anything", ""},
    {"x*", "", ""},
    {"^abc", "abcd", "abc"},
    {"^abc", "xabc", "-"},
    {"abc$", "xabc", "abc"},
    {"abc$", "abcx", "-"},
    {"a.c", "xabc", "abc"},
    {"a.c", "ac", "-"},
    {"[abc]+", "xxbcay", "bca"},
    {"[^abc]+", "abxyzc", "xyz"},
    {"[a-c]*d", "xccbd", "ccbd"},
    {"[]a]+", "x]a]", "]a]"},
    {"[-a]+", "x-a-", "-a-"},
    {"[a-]+", "xa-a", "a-a"},
    {"[^]]", "]]x", "x"},
    {"ab*c", "ac", "ac"},
    {"ab+c", "ac", "-"},
    {"ab+c", "xabbc", "abbc"},
    {"ab?c", "ac", "ac"},
    {"ab?c", "abbc", "-"},
    {"a*ab", "aaab", "aaab"},
    {"^a+", "aaab", "aaa"},
    {"(ab)*c", "xababc", "ababc"},
    {"(ab)+c", "xc", "-"},
    {"(ab)+c", "abxababc", "ababc"},
    {"(a|b)?c", "bc", "bc"},
    {"a\\.b", "axb a.b", "a.b"},
    {"\\*", "a*", "*"},
    {"KWBC|KWNO", "SDUS KWNO 1200", "KWNO"},
    {".*b", "aab", "aab"},
    {"x*abc*de", "zxabccde", "xabccde"},
    {"[0-9][0-9]*$", "abc123", "123"},
    {"(x|y)*(ab|a)c", "yxyac", "yxyac"},
};

}  // namespace

TEST(Regexp, MatchesAsExpectedWithAndWithoutTheShortCuts)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.expression) + " on " + c.text);
        Compiled r = compile(c.expression);
        ASSERT_TRUE(r);
        EXPECT_EQ(run(r.get(), c.text), c.match);
        // The first character, the anchor and the literal every match holds
        // only skip tries that cannot succeed.
        r->regstart = '\0';
        r->reganch = 0;
        r->regmust = nullptr;
        r->regmlen = 0;
        EXPECT_EQ(run(r.get(), c.text), c.match);
    }
}

TEST(Regexp, ShortCutsOfASingleAlternative)
{
    EXPECT_EQ(compile("abc")->regstart, 'a');
    EXPECT_EQ(compile("^x")->reganch, 1);
    EXPECT_EQ(compile("a|b")->regstart, '\0');
    // A leading repetition: the longest literal, the later of equal ones.
    Compiled starred = compile("x*abc*de");
    EXPECT_EQ(std::string(starred->regmust, starred->regmlen), "de");
}

TEST(Regexp, GroupsHoldTheirLastPassUpTo23)
{
    Compiled r = compile("(a)(b(c))(d|e)*");
    ASSERT_TRUE(qvRegexec(r.get(), "xabcdef"));
    EXPECT_EQ(matched(*r, 1), "a");
    EXPECT_EQ(matched(*r, 2), "bc");
    EXPECT_EQ(matched(*r, 3), "c");
    EXPECT_EQ(matched(*r, 4), "e");
    EXPECT_EQ(matched(*r, 5), "-");

    std::string groups;
    for (int i = 0; i < 23; ++i)
        groups += "(" + std::string(1, char('a' + i)) + ")";
    Compiled most = compile(groups);
    ASSERT_TRUE(most);
    ASSERT_TRUE(qvRegexec(most.get(), "abcdefghijklmnopqrstuvw"));
    EXPECT_EQ(matched(*most, 23), "w");

    LogCapture log;
    EXPECT_FALSE(compile(groups + "(x)"));
    EXPECT_EQ(log.text(), "regexp(3): too many ()");
}

TEST(Regexp, BadExpressionsAndProgramsGiveTheirErrorTexts)
{
    const std::pair<std::string, const char*> bad[] = {
        {"(", "unmatched ()"},
        {"a)", "unmatched ()"},
        {"a**", "nested *?+"},
        {"*a", "?+* follows nothing"},
        {"a|+", "?+* follows nothing"},
        {"a[", "unmatched []"},
        {"[z-a]", "invalid [] range"},
        {"a\\", "trailing \\"},
        {"(a*)*", "*+ operand could be empty"},
        {"^+", "*+ operand could be empty"},
        {std::string(32756, 'a'), "regexp too big"},
    };
    for (const auto& b : bad) {
        LogCapture log;
        EXPECT_FALSE(compile(b.first)) << b.second;
        EXPECT_EQ(log.text(), std::string("regexp(3): ") + b.second);
    }
    EXPECT_TRUE(compile(std::string(32755, 'a')));  // 32766 bytes of program

    LogCapture log;
    EXPECT_EQ(qvRegcomp(nullptr), nullptr);
    Compiled r = compile("ab");
    EXPECT_EQ(qvRegexec(r.get(), nullptr), 0);
    EXPECT_EQ(qvRegexec(nullptr, "ab"), 0);
    r->program[4] = 99;  // the EXACTLY node's opcode
    EXPECT_EQ(qvRegexec(r.get(), "ab"), 0);
    r->program[0] = 0;
    EXPECT_EQ(qvRegexec(r.get(), "ab"), 0);
    EXPECT_EQ(log.text(),
              "regexp(3): NULL argumentregexp(3): NULL parameterregexp(3): NULL parameter"
              "regexp(3): memory corruptionregexp(3): corrupted program");
}

TEST(Regexp, APathologicalMatchFailsWithAnErrorInsteadOfRunningAway)
{
    // Each pass through the group nests three node matches.
    LogCapture log;
    Compiled loop = compile("(ab)*c");
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "ab";
    EXPECT_EQ(qvRegexec(loop.get(), (text + "c").c_str()), 0);
    EXPECT_EQ(log.text(), "regexp(3): match too deep");
    EXPECT_EQ(run(loop.get(), text.substr(0, 1000) + "c"), text.substr(0, 1000) + "c");

    // Exponential backtracking: every split of the a's is tried.
    log.clear();
    Compiled splits = compile("(a|aa)*b");
    EXPECT_EQ(qvRegexec(splits.get(), (std::string(40, 'a') + "cb").c_str()), 0);
    EXPECT_EQ(log.text(), "regexp(3): match too long");
    EXPECT_EQ(run(splits.get(), std::string(10, 'a') + "cb"), "b");
}
