// A decoded value in its 16 octets: every field reads back as it was set,
// also where it does not fit the packed form, and copies share a text
// without sharing a change to it.
#include "BufrValues.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

void expectFields(const BufrValues& v, int subset, int descriptor, float value, int index,
                  const char* text)
{
    EXPECT_EQ(v.getSubset(), subset);
    EXPECT_EQ(v.getDescriptor(), descriptor);
    EXPECT_EQ(v.getValue(), value);
    EXPECT_EQ(v.getIndex(), index);
    EXPECT_STREQ(v.getCharValue().c_str(), text);
}

} // namespace

TEST(BufrValues, FieldsReadBackAsSet)
{
    EXPECT_EQ(sizeof(BufrValues), 16u);
    expectFields(BufrValues(), 0, 0, 0.0f, 0, "");
    const std::size_t entries = BufrValueExtras::inUse();
    {
        const struct {
            int subset;
            int descriptor;
            const char* text;
        } cases[] = {
            {0, 12101, ""},          {65535, 363255, "KWBC"}, {65536, 1001, ""},
            {-1, 12101, ""},         {7, 12345, ""},          {7, 364000, "X"},
            {INT_MAX, INT_MIN, "Y"}, {3, -12101, ""},         {3, 2256, ""},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.subset) + "/" + std::to_string(c.descriptor));
            BufrValues v(c.subset, c.descriptor, -99999.9f, INT_MIN, c.text);
            expectFields(v, c.subset, c.descriptor, -99999.9f, INT_MIN, c.text);
            // Each field set alone leaves the others.
            BufrValues w;
            w.setCharValue(c.text);
            w.setDescriptor(c.descriptor);
            w.setSubset(c.subset);
            w.setIndex(5);
            w.setValue(1.5f);
            expectFields(w, c.subset, c.descriptor, 1.5f, 5, c.text);
            w.setSubset(1);
            w.setDescriptor(12101);
            w.setCharValue("");
            expectFields(w, 1, 12101, 1.5f, 5, "");
        }
    }
    EXPECT_EQ(BufrValueExtras::inUse(), entries);
}

TEST(BufrValues, CopiesShareTextsNotChanges)
{
    const std::size_t entries = BufrValueExtras::inUse();
    {
        BufrValues a(2, 1015, -99999.9f, 1, "NORTH");
        BufrValues b = a;
        BufrValues c;
        c = b;
        c.setCharValue("SOUTH");
        b.setSubset(70000);
        expectFields(a, 2, 1015, -99999.9f, 1, "NORTH");
        expectFields(b, 70000, 1015, -99999.9f, 1, "NORTH");
        expectFields(c, 2, 1015, -99999.9f, 1, "SOUTH");
        EXPECT_EQ(a.getCharValue().rep(), b.getCharValue().rep());
        c = a;
        c = c;
        expectFields(c, 2, 1015, -99999.9f, 1, "NORTH");

        // The walker's fills over values that held texts.
        BufrValues filled[3] = {a, b, c};
        BufrValues::fillColumn(filled, 1, BufrValues(0, 12101, 0, 4, ""), 9, 3,
                               std::vector<float>{1, 2, 3}.data(), 1);
        expectFields(filled[2], 11, 12101, 3, 4, "");
        filled[0].fill(1, 999999, 2.5f, 0);
        expectFields(filled[0], 1, 999999, 2.5f, 0, "");
    }
    EXPECT_EQ(BufrValueExtras::inUse(), entries);
}
