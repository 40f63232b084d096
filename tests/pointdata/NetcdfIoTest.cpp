// The typed netCDF layer: a call whose buffer type or rank does not fit the
// variable is refused before netCDF sees it, and no failure ends the process.
#include "NetcdfIo.h"

#include "Cdl.h"
#include "TempTree.h"

#include <gtest/gtest.h>
#include <netcdfcpp.h>

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

} // namespace
