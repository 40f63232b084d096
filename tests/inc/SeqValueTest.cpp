#include "SeqValue.h"

#include "LogCapture.h"
#include "TextString.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A value of the given capacity (at least 10) whose elements are 0, 1,
// 2, ..., then set to length n.
std::unique_ptr<SeqValue<int>> numbered(int capacity, int n)
{
    auto v = std::make_unique<SeqValue<int>>();
    v->setLength(capacity);
    for (int i = 0; i < capacity; ++i)
        v->elements[i] = i;
    v->setLength(n);
    return v;
}

} // namespace

// Stepwise growth (10, 20, ..., 110, 121, 133) is in SeqOfTest.
TEST(SeqValueTest, GrowsToTheLargestRuleAndShrinksOnlyWithTenAndATenthToSpare)
{
    EXPECT_EQ(numbered(99, 100)->capacity, 109);
    EXPECT_EQ(numbered(200, 500)->capacity, 500);
    // 0.9 is taken as a single-precision number: 1000 keeps 900.
    EXPECT_EQ(numbered(100, 90)->capacity, 100);
    EXPECT_EQ(numbered(100, 89)->capacity, 89);
    EXPECT_EQ(numbered(1000, 900)->capacity, 1000);
    EXPECT_EQ(numbered(1000, 899)->capacity, 899);
    auto v = numbered(100, 101);
    EXPECT_EQ(v->elements[99], 99);
    EXPECT_EQ(v->elements[109], 0);

    // Within the capacity nothing moves and spare slots keep their values.
    v = numbered(10, 3);
    int* array = v->elements;
    v->setLength(10);
    EXPECT_EQ(v->elements, array);
    EXPECT_EQ(v->elements[9], 9);

    LogCapture log;
    v->setLength(-3);
    EXPECT_EQ(v->length, 0);
    EXPECT_EQ(v->elements, array);
    EXPECT_EQ(numbered(20, -3)->capacity, 0);
    const std::string negative = "BUG: negative argument to SeqOf.setLength";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{negative, negative}));
}

TEST(SeqValueTest, CopiesHoldOnlyTheElementsInUse)
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
}
