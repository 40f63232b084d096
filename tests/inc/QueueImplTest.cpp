#include "QueueImpl.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

TEST(QueueImplTest, ItemsLeaveInArrivalOrderAcrossThe32BitWrap)
{
    int items[6] = {0, 1, 2, 3, 4, 5};
    QueueImpl<int*> q(0xFFFFFFFDu);
    for (int& item : items)
        q.enqueue(&item);
    EXPECT_EQ(q.tail(), 3u);
    int* first = nullptr;
    EXPECT_TRUE(q.peek(first) && first == &items[0] && q.count() == 6);
    for (int& item : items)
        EXPECT_EQ(q.dequeue(), &item);
    EXPECT_TRUE(q.isEmpty() && q.head() == 3u && q.count() == 0);

    QueueImpl<long> numbers;  // integers travel through the pointer-sized slot
    numbers.enqueue(-7);
    EXPECT_EQ(numbers.dequeue(), -7);
}

TEST(QueueImplTest, AnEmptyQueueAnswersNullAndEachQueueHasItsOwnFront)
{
    int items[3] = {0, 1, 2};
    LogCapture log;
    QueueImpl<int*> a;
    int* out = &items[0];
    EXPECT_FALSE(a.peek(out));
    EXPECT_EQ(out, &items[0]);
    EXPECT_EQ(a.dequeue(), nullptr);
    const std::string empty = "BUG: Attempt to remove from or peek at an empty queue.";
    EXPECT_EQ(log.lines(), (Lines{empty, empty}));

    QueueImpl<int*> b;
    a.enqueue(&items[1]);
    b.enqueue(&items[2]);
    int*& frontOfA = a.front();
    EXPECT_EQ(b.front(), &items[2]);
    EXPECT_EQ(frontOfA, &items[1]);
    a.dequeue();
    EXPECT_EQ(a.front(), nullptr);
}
