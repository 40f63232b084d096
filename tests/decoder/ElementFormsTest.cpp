// The catalogue of element forms: each form converts as WMO defines its
// unit or kind of height, a form that cannot convert is named, and every
// form is an element of the tables in one quantity only.
#include "ElementForms.h"
#include "ElementUnits.h"
#include "StaticBufrInfo.h"
#include "TableBEntry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <string>

namespace {

// The project's BUFR tables, loaded once into the process's store.
void loadTables()
{
    static const bool loaded = [] {
        const std::string data = std::string(std::getenv("QEV_HOME")) + "/data/";
        std::filesystem::create_directories(data);
        for (const char* table : StaticBufrInfo::tableFiles) {
            std::error_code ignored;
            std::filesystem::create_symlink(std::string(QEV_SOURCE_DIR) + "/data/" + table,
                                            data + table, ignored);
        }
        return StaticBufrInfo::instance()->loadTables();
    }();
    ASSERT_TRUE(loaded);
}

const double R0 = 6356766.0, G0 = 9.80665;

TEST(ElementForms, EachFormConvertsAsWmoDefinesIt)
{
    loadTables();
    const struct {
        int from, to;
        double value, expected;
    } cases[] = {
        // Heights by the standard atmosphere: H = r0 z / (r0 + z), H = phi / g0.
        {7002, 10009, 1000, R0 * 1000 / (R0 + 1000)},
        {7007, 7009, 1000, R0 * 1000 / (R0 + 1000)},
        {10007, 10008, 1000, G0 * R0 * 1000 / (R0 + 1000)},
        {10008, 7001, 1177, R0 * (1177 / G0) / (R0 - 1177 / G0)},
        {7003, 7009, 2 * G0 * 1000, 2000},
        {7009, 10009, 540, 540},
        {10009, 10001, 1460, R0 * 1460 / (R0 - 1460)},
        {7030, 7001, 6.4, 6.4},
        {7001, 10001, 205, 205},
        // By their units.
        {11084, 11002, 10, 10 * 1852.0 / 3600.0},
        {11083, 11002, 36, 10},
        {12003, 12103, 280.5, 280.5},
        {13009, 13003, 55.5, 55.5},
        {7004, 10004, 85000, 85000},
        {4007, 4006, 30.5, 30.5},
        {4026, 4025, 1800, 30},
        {4023, 4024, 2, 48},
        {1205, 1211, 72509, 72509},
        {5002, 5001, 42.36, 42.36},
        // A missing value stays missing, and an element is itself.
        {7002, 10009, -99999, -99999},
        {10070, 10070, 3000, 3000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " into " + std::to_string(c.to));
        double value = c.value;
        EXPECT_TRUE(ElementForms::converts(c.from, c.to));
        ASSERT_TRUE(ElementForms::convert(c.from, c.to, value));
        EXPECT_NEAR(value, c.expected, 1e-9 * std::max(1.0, std::fabs(c.expected)));
    }
}

TEST(ElementForms, AFormThatCannotConvertIsNamed)
{
    loadTables();
    const struct {
        int from, to;
        const char* words;
    } cases[] = {
        {7006, 10009, "a height above the station"},
        {7010, 7002, "a flight level"},
        {10070, 7007, "an indicated aircraft altitude"},
        {10053, 7007, "a satellite navigation altitude"},
        {12003, 13002, "a dewpoint"},
        {13003, 13001, "a relative humidity"},
        {12104, 12101, "an air temperature at 2 m"},
        {11001, 11003, "a wind direction"},
        {11002, 11004, "a wind speed"},
        {11006, 11005, "a vertical velocity in m/s"},
        {13111, 13226, "a soil moisture by mass"},
        {20011, 20010, "a cloud amount in oktas"},
        {1001, 1211, "a WMO block number"},
        {5001, 6001, "a latitude of high accuracy"},
        {7004, 7002, "a pressure"},
        {4022, 4025, "a time period in months"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " into " + std::to_string(c.to));
        double value = 1234.5;
        EXPECT_FALSE(ElementForms::converts(c.from, c.to));
        EXPECT_FALSE(ElementForms::convert(c.from, c.to, value));
        EXPECT_EQ(value, 1234.5);
        const ElementForms::Form* f = ElementForms::form(c.from);
        ASSERT_NE(f, nullptr);
        EXPECT_STREQ(f->words, c.words);
    }
    // An element the catalogue does not hold converts into nothing else.
    double value = 1;
    EXPECT_EQ(ElementForms::form(12061), nullptr);
    EXPECT_EQ(ElementForms::quantityOf(12061), ElementForms::NO_QUANTITY);
    EXPECT_FALSE(ElementForms::convert(12061, 12101, value));
}

TEST(ElementForms, EveryFormIsAnElementOfTheTablesInOneQuantity)
{
    loadTables();
    std::map<int, ElementForms::Quantity> seen;
    for (int q = ElementForms::HEIGHT; q <= ElementForms::LONGITUDE; ++q) {
        const auto quantity = static_cast<ElementForms::Quantity>(q);
        const std::vector<const ElementForms::Form*> forms = ElementForms::forms(quantity);
        EXPECT_FALSE(forms.empty()) << q;
        EXPECT_STRNE(ElementForms::words(quantity), "value") << q;
        for (const ElementForms::Form* f : forms) {
            SCOPED_TRACE(f->descriptor);
            TableBEntry entry;
            EXPECT_TRUE(StaticBufrInfo::instance()->getTableBEntry(f->descriptor, entry));
            EXPECT_EQ(ElementForms::form(f->descriptor), f);
            EXPECT_TRUE(ElementForms::gives(f->descriptor, quantity));
            EXPECT_TRUE(f->words && *f->words);
            if (f->quantity != quantity)
                continue;    // an elevation given as a height
            EXPECT_EQ(seen.count(f->descriptor), 0u) << "in two quantities";
            seen[f->descriptor] = quantity;
            // Forms of one measure have units that convert.
            for (const ElementForms::Form* g : forms)
                if (g->measure == f->measure) {
                    double value = 1;
                    EXPECT_TRUE(ElementUnits::betweenElements(f->descriptor, g->descriptor, value))
                        << g->descriptor;
                }
        }
    }
    // A station's elevation in its own elements or a height that converts
    // into one; never a height above the station or a flight level.
    for (int d : {7030, 7001, 10001, 7002, 7007, 10007, 7009, 10009, 7003, 7008, 10008})
        EXPECT_TRUE(ElementForms::gives(d, ElementForms::ELEVATION)) << d;
    for (int d : {7006, 7010, 10070, 10053, 7004})
        EXPECT_FALSE(ElementForms::gives(d, ElementForms::ELEVATION)) << d;
    EXPECT_TRUE(ElementForms::gives(4007, ElementForms::SECOND));
    EXPECT_FALSE(ElementForms::gives(4005, ElementForms::SECOND));
}

TEST(ElementForms, OnlyNumbersThatAreNotMissingAreGiven)
{
    for (double missing : {-99999.0, 99999.0, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(ElementForms::given(missing)) << missing;
    for (double value : {0.0, -99998.0, 99999.5, 1e37})
        EXPECT_TRUE(ElementForms::given(value)) << value;
}

} // namespace
