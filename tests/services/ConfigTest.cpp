// Reading configuration files into Config objects of their own (the
// process-wide instance is tested in tests/services/config/).
#include "Config.h"
#include "ConfigValueText.h"
#include "LogCapture.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ConfigValueText;

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    std::unique_ptr<Config> load(const std::string& text)
    {
        return std::make_unique<Config>(TextString(_tree.write("test.config", text).c_str()));
    }

    TempTree _tree;
};

} // namespace

TEST_F(ConfigFileTest, DefinitionsAssignmentsAndTheirMessages)
{
    LogCapture log;
    auto c = load("SocketBufferSize . numBytes : 0x10000\n"  // 1: before its definition
                  "int = numBytes, numMins\n"
                  "SocketBufferSize . numBytes : 0x10000\n"
                  "SocketConnectionTimeout.numMins : 3\n"
                  "SocketConnectionTimeout.numMins : 4\n"    // 5: replaces
                  "TextString = dictName\n"
                  "radarStationInfo.dictName : radar Info\n"
                  "DataAccessInfo.dictName : \"data Info\"\n"
                  "a.dictName : x=y\n"                       // 9: a definition of 'y'
                  "b.dictName : \"x\"rest\n"                 // 10: extraneous
                  "c.dictName : bare,\n"                     // 11: extraneous
                  "   \n"
                  "   # comment\n"
                  "just text\n"                              // 14: not recognised
                  "s.big : 4294967296\n"                     // 15: 'big' not defined yet
                  "int = big, numBytes\n"                    // 16: numBytes again
                  "s.big : 4294967296\n"                     // 17: clamped
                  "s.numBytes : -3000000000\n"               // 18: clamped
                  "s.dictName :\n"                           // 19: no value
                  "s. : 1\n"                                 // 20: no attribute
                  "float = odd\n"
                  "SeqOfInt = odd\n"                         // 22: odd now a SeqOfInt
                  "f.odd : 1,2\n"
                  "y.y : 1\n");                              // 24: unknown type word

    EXPECT_EQ(value<int>(*c, "SocketBufferSize.numBytes"), "65536");
    EXPECT_EQ(value<int>(*c, "SocketConnectionTimeout.numMins"), "4");
    EXPECT_EQ(value<int>(*c, "s.big"), "2147483647");
    EXPECT_EQ(value<int>(*c, "s.numBytes"), "-2147483648");
    EXPECT_EQ(value<int>(*c, "socketbuffersize.numbytes"), "absent");
    EXPECT_EQ(value<TextString>(*c, "radarStationInfo.dictName"), "radarInfo");
    EXPECT_EQ(value<TextString>(*c, "DataAccessInfo.dictName"), "data Info");
    for (const char* refused : {"a.dictName", "b.dictName", "c.dictName"})
        EXPECT_EQ(value<TextString>(*c, refused), "absent") << refused;
    EXPECT_EQ(values<int>(*c, "f.odd"), "1 2");

    EXPECT_EQ(log.count("Assignment line "), 7);
    for (const char* expected : {
             "PROBLEM: SocketBufferSize.numBytes's type not known, line 1.  Definition line "
             "not found for numBytes",
             "PROBLEM: Assignment line 1 failed. Text of line is "
             "\\SocketBufferSize.numBytes:0x10000\\",
             "EVENT: SocketConnectionTimeout.numMins existed, has been replaced by new value.",
             "PROBLEM: extraneous data on line following CartCoord2DFloat. Line 10 ignored.",
             "PROBLEM: extraneous data on line following CartCoord2DFloat. Line 11 ignored.",
             "PROBLEM: Config line number14 (text of line is \\justtext\\)is not a recognized "
             "config line; ignored.",
             "PROBLEM: Name numBytes defined more than once in Config file.",
             "PROBLEM: int value 4294967296 out of range; 2147483647 used",
             "PROBLEM: Assignment line 19 failed.",
             "PROBLEM: Config file line 20; couldn't get type-name following period, name=s.",
             "BUG: System error.  Type a.dictName:x on line 24 is not in Config class; ignoring.",
         })
        EXPECT_TRUE(log.contains(expected)) << expected;
    // Blank and comment lines say nothing.
    EXPECT_FALSE(log.contains("line number12"));
    EXPECT_FALSE(log.contains("line number13"));
}

TEST_F(ConfigFileTest, ValueSyntaxOfEveryType)
{
    LogCapture log;
    auto c = load("CartCoord2DFloat = p1, p2, p3, p4, p5\n"
                  "p.p1 : (1.5, 2)\n"
                  "p.p2 : 1.5,2\n"
                  "p.p3 : (1.5,2\n"   // 4: incorrect
                  "p.p4 : (1.5,2))\n" // 5: extraneous
                  "p.p5 : 1.5,2)\n"   // 6: extraneous
                  "CartCoord2DInt = i1, i2\n"
                  "p.i1 : (3,-4)\n"
                  "p.i2 : (1.5,2)\n" // 9: incorrect
                  "SeqOfFloat = f1, f3\n"
                  "s.f1 : 1,2,3,\n"
                  "\n"
                  "s.f3 : 1,,2\n" // 13
                  "SeqOfInt = n1\n"
                  "s.n1 : 12, 0x10, 017\n"
                  "SeqOfTextString = t1\n"
                  "s.t1 : a,,\"b c\",\n"
                  "SeqOfCartCoord2DFloat = c1\n"
                  "s.c1 : 1,2,(3,4)\n"
                  "CartDomain2DFloat = d1, d2\n"
                  "s.d1 : (5,5),(10,-1)\n"
                  "s.d2 : 1,2,3,4\n"
                  "float = fl\n"
                  "s.fl : 2.5e1xyz\n"
                  "int = num\n"
                  "s.num : 12.7\n");

    EXPECT_EQ(value<CartCoord2D<float> >(*c, "p.p1"), "(1.5,2)");
    EXPECT_EQ(value<CartCoord2D<float> >(*c, "p.p2"), "(1.5,2)");
    for (const char* refused : {"p.p3", "p.p4", "p.p5"})
        EXPECT_EQ(value<CartCoord2D<float> >(*c, refused), "absent") << refused;
    EXPECT_EQ(value<CartCoord2D<int> >(*c, "p.i1"), "(3,-4)");
    EXPECT_EQ(value<CartCoord2D<int> >(*c, "p.i2"), "absent");
    EXPECT_EQ(values<float>(*c, "s.f1"), "1 2 3");
    EXPECT_EQ(values<float>(*c, "s.f3"), "absent");
    EXPECT_EQ(values<int>(*c, "s.n1"), "12 16 15");
    EXPECT_EQ(values<TextString>(*c, "s.t1"), "a  b c");
    EXPECT_EQ(values<CartCoord2D<float> >(*c, "s.c1"), "(1,2) (3,4)");
    EXPECT_EQ(value<CartDomain2D<float> >(*c, "s.d1"), "[o=(5,5),e=(0,0)]");
    EXPECT_EQ(log.count("BUG: negative extent in CartDomain constructor"), 1);
    EXPECT_EQ(value<CartDomain2D<float> >(*c, "s.d2"), "[o=(1,2),e=(3,4)]");
    EXPECT_EQ(text(CartDomain2D<float>()), "[Null Domain]");
    EXPECT_EQ(value<float>(*c, "s.fl"), "25");
    EXPECT_EQ(value<int>(*c, "s.num"), "12");

    for (const char* expected :
         {"incorrect CartCoord2DFloat format, line 4 ignored.", "following CartCoord2DFloat. Line 5",
          "following CartCoord2DFloat. Line 6", "incorrect CartCoord2DInt format, line 9",
          "incorrect SeqOfFloat format, line 13"})
        EXPECT_TRUE(log.contains(expected)) << expected;
    EXPECT_EQ(log.count("Assignment line "), 5);
}

TEST_F(ConfigFileTest, DumpWritesEveryDictionaryInItsOrder)
{
    LogCapture log;
    auto c = load("TextString = ts\nSeqOfTextString = tsa\nCartCoord2DFloat = fc\n"
                  "CartCoord2DInt = ic\nCartDomain2DFloat = fd\nSeqOfCartCoord2DFloat = fca\n"
                  "SeqOfFloat = fa\nSeqOfInt = ia\nint = i\nfloat = f\n"
                  "o.ts : \"a b\"\no.tsa : x,y\no.fc : 1.5,2\no.ic : (3,4)\no.fd : 0,0,1,2\n"
                  "o.fca : 1,2\no.fa : 0.25\no.ia : 7,8\no.i : 9\no.f : 2.5\n");
    c->setValue("o.i", 10);
    testing::internal::CaptureStdout();
    c->configDump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nconfigDump Output: Contents of private Config Dictionaries.\n"
              "\nDict<TextString,TextString>: \nNumber of elements in _tsDict is 1\n"
              "_tsDict key: o.ts; _tsDict data: a b\n"
              "\nTextString Array Dictionary: \nNumber of elements in _tsaDict is 1\n"
              "_tsaDict key: o.tsa\n_tsaDict data [0] is x\n_tsaDict data [1] is y\n"
              "\nCartCoord2D<float> Dictionary: \nNumber of elements in _fcDict is 1\n"
              "_fcDict key: o.fc; _fcDict data: (1.5,2)\n"
              "\nCartCoord2D<int> Dictionary: \nNumber of elements in _icDict is 1\n"
              "_icDict key: o.ic; _icDict data: (3,4)\n"
              "\nCartDomain2D<float> Dictionary: \nNumber of elements in _fdDict is 1\n"
              "_fdDict key: o.fd; _fdDict data: [o=(0,0),e=(1,2)]\n"
              "\nCartCoord2D<float> Array Dictionary: \nNumber of elements in _fcaDict is 1\n"
              "_fcaDict key: o.fca\n_fcaDict data [0] is (1,2)\n"
              "\nFloat Array Dictionary: \nNumber of elements in _faDict is 1\n"
              "_faDict key: o.fa\n_faDict data [0] is 0.25\n"
              "\nInt Array Dictionary: \nNumber of elements in _iaDict is 1\n"
              "_iaDict key: o.ia\n_iaDict data [0] is 7\n_iaDict data [1] is 8\n"
              "\nInteger Dictionary: \nNumber of elements in _intDict is 1\n"
              "_intDict key: o.i; _intDict data: 10\n"
              "\nFloat Dictionary: \nNumber of elements in _floatDict is 1\n"
              "_floatDict key: o.f; _floatDict data: 2.5\n");
    EXPECT_EQ(log.count("Assignment line"), 0);
}

TEST_F(ConfigFileTest, MissingFileGivesOneMessageAndAnEmptyStore)
{
    LogCapture log;
    std::string missing = _tree.path("absent/qev.config");
    Config c(TextString(missing.c_str()));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"PROBLEM: Config file " + missing + " empty"});
    TextString s;
    EXPECT_FALSE(c.getValue("DataAccessInfo.dictName", s));
}

// The example an installation starts from reads without a message.
TEST_F(ConfigFileTest, TheExampleFileReadsWhole)
{
    LogCapture log;
    Config c(TextString((std::string(QEV_SOURCE_DIR) + "/data/qev.config.example").c_str()));
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(values<TextString>(c, "SocketConnection.namedTargets"),
              "NOTIFICATION_SERVER 127.0.0.1 40002");
    EXPECT_EQ(value<int>(c, "SocketConnectionTimeout.numMins"), "3");
    EXPECT_EQ(value<int>(c, "SocketBufferTotal.numBytes"), "536870912");
    EXPECT_EQ(value<int>(c, "SocketConnectionLimit.numConnections"), "256");
    EXPECT_EQ(value<int>(c, "SocketBufferSize.numBytes"), "absent");
}
