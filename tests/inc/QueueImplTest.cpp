#include "QueueImpl.h"

#include "LogTail.h"
#include "TempTree.h"

#include <gtest/gtest.h>

namespace {

const char* const kEmpty = "Attempt to remove from or peek at an empty queue.";

class QueueImplTest : public ::testing::Test {
protected:
    int items[6] = {0, 1, 2, 3, 4, 5};
    TempTree tree;
    LogCapture log;
};

TEST_F(QueueImplTest, ItemsLeaveInArrivalOrderAcrossThe32BitWrap)
{
    QueueImpl<int*> q(0xFFFFFFFDu);
    for (int i = 0; i < 6; ++i)
        q.enqueue(&items[i]);
    EXPECT_EQ(q.tail(), 3u);
    int* first = nullptr;
    EXPECT_TRUE(q.peek(first));
    EXPECT_TRUE(q.peek(first));
    EXPECT_EQ(first, &items[0]);
    EXPECT_EQ(q.count(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(q.dequeue(), &items[i]);
    EXPECT_TRUE(q.isEmpty());
    EXPECT_EQ(q.head(), 3u);
    EXPECT_EQ(q.count(), 0);
    EXPECT_TRUE(loggedExactly(log, {}));
}

TEST_F(QueueImplTest, AnEmptyQueueAnswersNullAndEachQueueHasItsOwnFront)
{
    QueueImpl<int*> a;
    int* out = &items[5];
    EXPECT_FALSE(a.peek(out));
    EXPECT_EQ(out, &items[5]);
    EXPECT_EQ(a.dequeue(), nullptr);
    EXPECT_TRUE(loggedExactly(log, {kEmpty, kEmpty}));

    QueueImpl<int*> b;
    a.enqueue(&items[1]);
    b.enqueue(&items[2]);
    int*& frontOfA = a.front();
    EXPECT_EQ(b.front(), &items[2]);
    EXPECT_EQ(frontOfA, &items[1]);
    a.dequeue();
    EXPECT_EQ(a.front(), nullptr);

    QueueImpl<long> numbers;
    numbers.enqueue(-7);
    EXPECT_EQ(numbers.dequeue(), -7);
}

} // namespace
