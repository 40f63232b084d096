#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Dispatcher.h"
#include "LogCapture.h"
#include "RecordingReceiver.h"
#include "WireBytes.h"

namespace {

// Header of a sender "127.0.0.1/40000/4242" named "ABCDE" (52 bytes) for
// module 1, priority 0, type 4, then an 8-byte body; the first word is the
// total length.
std::string message(const char* totalLengthHex, const char* moduleHex = "00000001")
{
    return fromHex(std::string(totalLengthHex) +
                   "00000002 00000002 7f000001 00009c40 00001092"
                   "00000005 00000005 41424344 45000000" +
                   moduleHex + "00000000 00000004" + "deadbeef 01020304");
}

// Dispatches an exact-size heap copy, so that a read past its end shows.
void dispatch(const std::string& bytes)
{
    char* buffer = new char[bytes.size()];
    std::memcpy(buffer, bytes.data(), bytes.size());
    Dispatcher::doDispatch(buffer, static_cast<uint32_t>(bytes.size()));
}

}  // namespace

TEST(Dispatcher, RoutesByModuleWithTheBodyBehindTheHeader)
{
    RecordingReceiver first, second;
    EXPECT_EQ(Dispatcher::addReceiver(1, &first), 0);
    EXPECT_EQ(Dispatcher::addReceiver(1, &second), 0);  // replaces the first
    EXPECT_EQ(Dispatcher::receiverFor(1), &second);

    LogCapture log;
    dispatch(message("0000003c"));
    EXPECT_TRUE(first.received.empty());
    ASSERT_EQ(second.received.size(), 1u);
    EXPECT_EQ(second.received[0].type, 4);
    EXPECT_EQ(hexGroups(second.received[0].body), "deadbeef 01020304");
    EXPECT_NE(second.received[0].sender.find("/40000/4242"), std::string::npos);

    dispatch(message("0000003c", "00000003"));
    EXPECT_EQ(log.count("No receivers registered for module 3"), 1);
    EXPECT_EQ(second.received.size(), 1u);
}

TEST(Dispatcher, DropsMessagesWhoseLengthsDoNotFit)
{
    RecordingReceiver receiver;
    Dispatcher::addReceiver(1, &receiver);
    LogCapture log;
    // A total length inside the header would make the body length wrap;
    // one beyond the bytes read would let the receiver read past them.
    for (const char* total : {"00000014", "00000033", "0000003d", "ffffffff"}) {
        log.clear();
        dispatch(message(total));
        EXPECT_EQ(log.count("Dropping a message whose header does not fit it"), 1) << total;
    }
    // A header cut short.
    dispatch(message("0000003c").substr(0, 30));
    EXPECT_TRUE(receiver.received.empty());

    // The header's total length may end before the buffer: the body ends
    // with it.
    dispatch(message("00000038"));
    ASSERT_EQ(receiver.received.size(), 1u);
    EXPECT_EQ(receiver.received[0].body.size(), 4u);
}
