// The typed netCDF layer: a call whose buffer type or rank does not fit the
// variable is refused before netCDF sees it, and no failure ends the process.
#include "NetcdfIo.h"

#include "Cdl.h"
#include "LogCapture.h"
#include "RecordWriter.h"
#include "TempTree.h"

#include <gtest/gtest.h>
#include <netcdfcpp.h>

#include <string>
#include <vector>

namespace {

TEST(NetcdfIo, ChecksTypesAndRanksBeforeEveryCall)
{
    QEV_REQUIRE_NCGEN();
    TempTree tree;
    std::string path = tree.path("f.nc");
    std::string error;
    ASSERT_TRUE(Cdl::make("netcdf f {\n"
                          "dimensions: rec = UNLIMITED ; len = 4 ;\n"
                          "variables: int count ; double t(rec) ; char id(rec, len) ; short s(rec) ;\n"
                          "  :period = 3600 ; :name = \"abc\" ; :pair = 1, 2 ; :ratio = 1.5 ;\n"
                          "data: count = 7 ; t = 1.5, 2.5 ;\n"
                          "}\n",
                          path, &error))
        << error;
    EXPECT_EQ(NetcdfIo::openFile(tree.write("junk", "not netCDF").c_str(), false), nullptr);
    NcFile* file = NetcdfIo::openFile(path.c_str(), true);
    ASSERT_NE(file, nullptr);
    NetcdfIo io(NetcdfIo::fileId(file));
    const int count = io.varId("count"), t = io.varId("t"), id = io.varId("id"), s = io.varId("s");
    EXPECT_EQ(io.varId("none"), -1);
    EXPECT_EQ(io.recordCount(), 2);

    int n = 0;
    double d = 0;
    EXPECT_TRUE(io.get1(count, NcPos{}, n));
    EXPECT_EQ(n, 7);
    EXPECT_FALSE(io.get1(t, NcPos{0}, n));          // an int buffer for a double
    EXPECT_FALSE(io.get1(count, NcPos{0}, n));      // rank 1 for a scalar
    EXPECT_FALSE(io.get1(t, NcPos{0, 0}, d));       // rank 2 for rank 1
    EXPECT_TRUE(io.get1(t, NcPos{1}, d));
    EXPECT_EQ(d, 2.5);
    EXPECT_FALSE(io.get1(t, NcPos{9}, d));          // past the records
    EXPECT_FALSE(io.put(id, NcPos{0, 0}, NcPos{1}, "ab"));
    EXPECT_TRUE(io.put(id, NcPos{0, 0}, NcPos{1, 3}, "ab"));
    EXPECT_FALSE(io.put(id, NcPos{0, 0}, NcPos{1, 5}, "abcde"));  // wider than the row

    EXPECT_TRUE(io.put1Number(s, NcPos{1}, -3.9));
    EXPECT_TRUE(io.get1Number(s, NcPos{1}, d));
    EXPECT_EQ(d, -3.0);
    EXPECT_TRUE(io.put1Number(s, NcPos{0}, 1e9));   // clamped to the type
    EXPECT_TRUE(io.get1Number(s, NcPos{0}, d));
    EXPECT_EQ(d, 32767.0);
    EXPECT_FALSE(io.put1Number(id, NcPos{0, 0}, 1.0));

    EXPECT_TRUE(io.intAttribute("period", n));
    EXPECT_EQ(n, 3600);
    EXPECT_FALSE(io.intAttribute("pair", n));       // two values
    EXPECT_FALSE(io.intAttribute("ratio", n));       // not an int
    EXPECT_FALSE(io.intAttribute("name", n));
    TextString text;
    EXPECT_EQ(io.textAttribute("name", 3, text), 0);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(io.textAttribute("name", 2, text), 1);
    EXPECT_EQ(io.textAttribute("period", 99, text), 1);
    EXPECT_EQ(io.textAttribute("none", 99, text), 1);
    EXPECT_TRUE(io.sync());
    NetcdfIo::deleteFile(file);
    EXPECT_FALSE(NetcdfIo(io.ncid()).sync());       // closed: an error, not an exit
}

// The record writer: values by the variable's type at the record, texts as
// whole rows, profiles cut to their variable, failures in the caller's
// words, and variables forgotten when the file changes.
class RecordWriterTest : public testing::Test {
protected:
    void SetUp() override
    {
        QEV_REQUIRE_NCGEN();
        for (const char* name : {"a.nc", "b.nc"}) {
            const bool a = name[0] == 'a';
            ASSERT_TRUE(Cdl::make(std::string("netcdf f {\ndimensions: rec = UNLIMITED ; n = 3 ; "
                                              "len = 4 ;\nvariables: ") +
                                      (a ? "int i(rec) ; float f(rec, n) ; double d(rec) ; "
                                           "char c(rec, len) ; char one(rec) ; byte b(rec) ; "
                                           "int p(rec, n) ;"
                                         : "double b(rec) ; float i(rec) ;") +
                                      "\ndata: i = 0, 0 ;\n}\n",
                                  tree.path(name)));
        }
    }
    int open(const char* name)
    {
        file = NetcdfIo::openFile(tree.path(name).c_str(), true);
        EXPECT_NE(file, nullptr);
        return NetcdfIo::fileId(file);
    }
    template <class T>
    std::vector<T> row(const char* name, long record, long n)
    {
        const NetcdfIo io(NetcdfIo::fileId(file));
        std::vector<T> values(static_cast<size_t>(n));
        const int var = io.varId(name);
        NetcdfIo::VarInfo info;
        EXPECT_TRUE(io.varInfo(var, info));
        const NcPos start = info.nDims == 1 ? NcPos{record} : NcPos{record, 0};
        const NcPos count = info.nDims == 1 ? NcPos{1} : NcPos{1, n};
        EXPECT_TRUE(io.get(var, start, count, values.data())) << name;
        return values;
    }

    TempTree tree;
    NcFile* file = nullptr;
    const RecordWriter::Rules rules = {"Test",
                                       "no %n at %r: %e",
                                       "number %n: %e",
                                       "count %n: %e",
                                       "text %v at %r: %e",
                                       "width of %v",
                                       "refused <%t>",
                                       "profile %n: %e",
                                       "cut %n: %c to %l",
                                       false,
                                       false};
};

TEST_F(RecordWriterTest, NumbersTextsAndProfilesByTheVariablesType)
{
    RecordWriter w(rules);
    w.useFile(open("a.nc"), "a.nc");
    LogCapture log;
    EXPECT_EQ(w.putNumber("i", 1, 3e9), RecordWriter::WRITTEN);      // clamped
    EXPECT_EQ(w.putNumber("i", 0, -7.9), RecordWriter::WRITTEN);     // truncated
    EXPECT_EQ(w.putNumber("f", 1, 2.5, 2), RecordWriter::WRITTEN);   // [1, 2]
    EXPECT_EQ(w.putNumber("d", 1, -99999), RecordWriter::WRITTEN);
    EXPECT_EQ(w.putNumber("b", 1, 7), RecordWriter::SKIPPED);
    EXPECT_EQ(w.putNumber("c", 1, 7), RecordWriter::SKIPPED);
    EXPECT_EQ(w.putText("c", 1, "KBOS"), RecordWriter::WRITTEN);
    EXPECT_EQ(w.putText("c", 1, "AB"), RecordWriter::WRITTEN);       // the whole row again
    EXPECT_EQ(w.putText("c", 0, "TOOLONG"), RecordWriter::FAILED);
    EXPECT_EQ(w.putText("one", 1, "X"), RecordWriter::SKIPPED);
    const float profile[] = {1.6f, -2.5f, 3e10f, 4.0f};
    EXPECT_EQ(w.putProfile("p", 1, profile, 4), RecordWriter::WRITTEN);
    EXPECT_EQ(w.putProfile("d", 1, profile, 2), RecordWriter::FAILED);
    EXPECT_EQ(w.putNumber("nope", 2, 1), RecordWriter::FAILED);
    EXPECT_EQ(w.putCount("nope", 2, 1), RecordWriter::FAILED);
    EXPECT_EQ(w.lastStatus(), NC_ENOTVAR);
    const std::vector<std::string> lines = {
        "PROBLEM: refused <TOOLONG>", "PROBLEM: cut p: 4 to 3",
        "PROBLEM: profile d: variable of another type or shape",
        "PROBLEM: no nope at 2: NetCDF: Variable not found"};
    for (const std::string& line : lines)
        EXPECT_TRUE(log.contains(line)) << line << "\n" << log.text();

    EXPECT_EQ(row<int>("i", 0, 1)[0], -7);
    EXPECT_EQ(row<int>("i", 1, 1)[0], 2147483647);
    EXPECT_EQ(row<float>("f", 1, 3)[2], 2.5f);
    EXPECT_EQ(row<double>("d", 1, 1)[0], -99999.0);
    EXPECT_EQ(row<char>("c", 1, 4), (std::vector<char>{'A', 'B', '\0', '\0'}));
    EXPECT_EQ(row<int>("p", 1, 3), (std::vector<int>{1, -2, 2147483647}));

    // Cut texts and a first character where the rules ask for them.
    RecordWriter::Rules cutting = rules;
    cutting.cutLongText = cutting.firstCharacterAlone = true;
    RecordWriter cut(cutting);
    EXPECT_EQ(cut.at(NetcdfIo::fileId(file)).putText("c", 0, "TOOLONG"), RecordWriter::WRITTEN);
    EXPECT_EQ(cut.putText("one", 1, "XY"), RecordWriter::WRITTEN);
    EXPECT_EQ(row<char>("c", 0, 4), (std::vector<char>{'T', 'O', 'O', 'L'}));
    EXPECT_EQ(row<char>("one", 1, 1)[0], 'X');
    NetcdfIo::deleteFile(file);
}

// netCDF gives a closed file's ncid to the next file opened: the variables
// of the file before are not taken for those of the new one.
TEST_F(RecordWriterTest, VariablesAreForgottenWhenTheFileChanges)
{
    RecordWriter w(rules);
    w.useFile(open("a.nc"), "a.nc");
    EXPECT_EQ(w.putNumber("b", 0, 1.5), RecordWriter::SKIPPED);   // byte in a.nc
    NetcdfIo::deleteFile(file);
    w.useFile(open("b.nc"), "b.nc");
    EXPECT_EQ(w.putNumber("b", 0, 1.5), RecordWriter::WRITTEN);   // double in b.nc
    EXPECT_EQ(w.putNumber("i", 0, 2.5), RecordWriter::WRITTEN);
    EXPECT_EQ(row<double>("b", 0, 1)[0], 1.5);
    EXPECT_EQ(row<float>("i", 0, 1)[0], 2.5f);
    NetcdfIo::deleteFile(file);
}

} // namespace
