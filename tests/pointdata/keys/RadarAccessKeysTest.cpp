// Radar ids, product codes, tilt grouping and the radar access keys of the
// main site and of the other radars through the template radars' keys.
#include "KeyFiles.h"

#include "LogCapture.h"
#include "RadarAccessKey.h"
#include "RadarKeyFields.h"
#include "RadarTiltTable.h"
#include "dmRadarKeys.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(RadarAccessKeys, FindsRadarIdsAsListedAndInUpperCase)
{
    struct Case {
        const char* name;
        int id;
    };
    const Case cases[] = {{"knat", 100}, {"KNAT", 100}, {"KUPR", 20}, {"kupr", -1},
                          {"kxyz", 5},   {"kbad", -1},  {"nowhere", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(dmRadarId(c.name), c.id) << c.name;
}

TEST(RadarAccessKeys, GroupsTilts)
{
    RadarTiltTable table;
    table.addGroup(0.5f, 0.0f, 0.9f);
    table.addGroup(1.5f, 1.0f, 1.9f);
    table.addGroup(2.0f, 2.5f, 2.9f); // the angle is outside its group
    EXPECT_EQ(table.groupAngle(1.34f), 1.5f);
    EXPECT_EQ(table.groupAngle(0.3f), 0.0f);
    EXPECT_EQ(table.groupAngle(1.96f), 2.0f);
    EXPECT_EQ(table.groupAngle(2.5f), 2.5f);
    EXPECT_EQ(table.groupAngle(-0.5f), -0.5f);
    EXPECT_FALSE(RadarTiltTable::covers(95.0f));

    SeqOf<TextString> lines;
    for (int i = 0; i < 10; ++i)
        lines.append("1.5 1.0 1.9");
    EXPECT_EQ(RadarTiltTable::fromLines(lines), nullptr);
    lines.append("not a group");
    std::unique_ptr<RadarTiltTable> grouped(RadarTiltTable::fromLines(lines));
    ASSERT_NE(grouped, nullptr);
    EXPECT_EQ(grouped->groupAngle(1.2f), 1.5f);
}

TEST(RadarAccessKeys, IgnoresZLinesAndLinesThatDoNotReadWhole)
{
    SeqOf<TextString> lines;
    for (const char* line : {"kabc 1 2", "kzzz 1 1 z", "kzzz 1 1 z \t", "kshort 1", ""})
        lines.append(line);
    const int codes[] = {2, -1, -1, -1, -1};
    int id = -7;
    TextString name;
    for (int i = 0; i < lines.length(); ++i)
        EXPECT_EQ(RadarAccessKey::parseRadarInUse(lines, i, id, name), codes[i]) << i;
    EXPECT_EQ(id, 18);
    EXPECT_EQ(name, "kabc");
}

TEST(RadarAccessKeys, HashesOnFixedWidthUnsignedIntegers)
{
    // Shifts past the sign bit and a negative param5 (the sanitizers watch
    // for signed overflow); equal fields hash equally, signed zeros too.
    RadarKeyFields wide(0x7fffffff, 1.5f, -9, 2.5f, 0x7fffffff);
    EXPECT_EQ(hashKey(wide), hashKey(RadarKeyFields(0x7fffffff, 1.5f, -9, 2.5f, 0x7fffffff)));
    EXPECT_EQ(hashKey(RadarKeyFields(19, 0.0f, 0, 0.0f, 0)),
              hashKey(RadarKeyFields(19, -0.0f, 0, -0.0f, 0)));
}

TEST(RadarAccessKeys, FindsKeysOfTheMainSiteAndOfOtherRadars)
{
    struct Case {
        int product;
        float elevation;
        int param5;
        float param4;
        const char* radar;
        DataAccessKey key;
    };
    const Case cases[] = {
        // The main site's own keys, by its name in either listed form.
        {94, 0.5f, 1, 0.0f, "knat", 0x40640001},
        {94, 0.3f, 1, 0.0f, "KNAT", 0x40640001},
        // A template key put to radar 5: 1.34 and 1.3 are looked up as 1.5,
        // 0.3 as 0.0; 95 unchanged; the parameters must agree.
        {94, 1.34f, 0, 0.0f, "kxyz", 0x40050002},
        {94, 1.3f, 0, 0.0f, "kxyz", 0x40050002},
        {94, 0.3f, 0, 0.0f, "kxyz", 0x40050001},
        {94, 95.0f, 0, 0.0f, "kxyz", 0x40050007},
        {94, 2.4f, 4, 2.5f, "kxyz", 0x40050008},
        {94, 2.4f, 0, 0.0f, "kxyz", 0},
        {94, 1.5f, 0, 0.0f, "KUPR", 0x40140002},
        {94, 1.5f, 0, 0.0f, "kabc", 0x40120002},
        // The TDWR template's product.
        {80, 0.0f, 0, 0.0f, "kxyz", 0x40050001},
        // Only in the block of kzzz, whose line of radars in use is a z-line.
        {77, 0.0f, 0, 0.0f, "kxyz", 0},
        // A template key that radar tdwa does not have.
        {94, 1.5f, 0, 0.0f, "tdwa", 0},
    };
    LogCapture log;
    for (const Case& c : cases)
        EXPECT_EQ(dmRadarAccessKeys("", c.product, c.elevation, c.param5, c.param4, c.radar),
                  c.key)
            << c.product << " " << c.elevation << " " << c.radar;
    EXPECT_TRUE(log.contains("TDWR file name = " + keyFilesDirectory() + "/tdwrRadars.txt"));
    EXPECT_TRUE(log.contains("1 TDWR radars read"));
    EXPECT_TRUE(log.contains("Unable to read DataAccessKey " + std::to_string(0x40130002)));

    // An unknown radar's id fits no key; an unknown product has no code.
    EXPECT_EQ(dmRadarAccessKeys("", 94, 1.5f, 0, 0.0f, "kupr"), 0u);
    EXPECT_TRUE(log.contains("Radar id -1 does not fit a radar key"));
    EXPECT_EQ(dmProductCode("", 12345), 8);
    EXPECT_TRUE(log.contains("Unable to get the product code enumeration from Dictionary for "
                             "product 12345"));
}

} // namespace
