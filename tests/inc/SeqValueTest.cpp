#include "SeqValue.h"

#include "LogTail.h"
#include "SeqOf.h"
#include "TempTree.h"
#include "TextString.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

class SeqValueTest : public ::testing::Test {
protected:
    // A value of the given capacity and length whose elements are 0, 1, 2, ...
    static std::unique_ptr<SeqValue<int>> numbered(int capacity, int length)
    {
        std::unique_ptr<SeqValue<int>> v(new SeqValue<int>());
        v->setLength(capacity);
        for (int i = 0; i < capacity; ++i)
            v->elements[i] = i;
        v->setLength(length);
        return v;
    }

    // The capacity after setLength(n) on a full value of that capacity.
    static int capacityAfter(int capacity, int n)
    {
        auto v = numbered(capacity, capacity);
        v->setLength(n);
        return v->capacity;
    }

    TempTree tree;
    LogCapture log;
};

TEST_F(SeqValueTest, GrowsByATenthAndAtLeastTen)
{
    SeqValue<int> stepwise;
    std::vector<int> capacities;
    for (int n = 1; n <= 409; ++n) {
        stepwise.setLength(n);
        if (capacities.empty() || capacities.back() != stepwise.capacity)
            capacities.push_back(stepwise.capacity);
    }
    EXPECT_EQ(capacities, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 121,
                                            133, 146, 160, 176, 193, 212, 233, 256, 281, 309,
                                            339, 372, 409}));
    EXPECT_EQ(capacityAfter(99, 100), 109);
    EXPECT_EQ(capacityAfter(200, 500), 500);

    auto v = numbered(100, 100);
    v->setLength(101);
    EXPECT_EQ(v->elements[99], 99);
    EXPECT_EQ(v->elements[109], 0);
}

TEST_F(SeqValueTest, ShrinksOnlyWithTenSlotsAndATenthToSpare)
{
    EXPECT_EQ(capacityAfter(20, 10), 20);
    EXPECT_EQ(capacityAfter(20, 9), 9);
    EXPECT_EQ(capacityAfter(100, 90), 100);
    EXPECT_EQ(capacityAfter(100, 89), 89);
    EXPECT_EQ(capacityAfter(1000, 900), 1000);
    EXPECT_EQ(capacityAfter(1000, 899), 899);

    // Within the capacity nothing moves and spare slots keep their values.
    auto v = numbered(10, 10);
    int* array = v->elements;
    v->setLength(3);
    v->setLength(10);
    EXPECT_EQ(v->elements, array);
    EXPECT_EQ(v->elements[9], 9);
    EXPECT_TRUE(loggedExactly(log, {}));

    v->setLength(-3);
    EXPECT_EQ(v->length, 0);
    EXPECT_EQ(v->elements, array);
    EXPECT_EQ(capacityAfter(20, -3), 0);
    EXPECT_TRUE(loggedExactly(log, {"negative argument to SeqOf.setLength",
                                    "negative argument to SeqOf.setLength"}));
}

TEST_F(SeqValueTest, CopiesHoldOnlyTheElementsInUse)
{
    auto v = numbered(13, 3);
    SeqValue<int> copy(*v);
    EXPECT_EQ(copy.capacity, 3);
    EXPECT_EQ(copy.elements[2], 2);
    SeqValue<int> nothing;
    SeqValue<int> fromNothing(nothing);
    EXPECT_NE(fromNothing.elements, nullptr);

    // New slots of shared values are defaults; every slot up to the
    // capacity holds its own reference.
    TextString held("held");
    auto texts = std::make_unique<SeqValue<TextString>>();
    texts->setLength(20);
    EXPECT_EQ(texts->elements[19].rep(), TextString::emptyString().rep());
    for (int i = 0; i < 20; ++i)
        texts->elements[i] = held;
    texts->setLength(15);
    texts.reset();
    EXPECT_EQ(held.refCount(), 1);

    SeqValue<SeqOf<float>> nested;
    nested.setLength(3);
    EXPECT_NE(nested.elements[0].rep(), nested.elements[9].rep());
}

} // namespace
