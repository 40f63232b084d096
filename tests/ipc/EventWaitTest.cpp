#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "Connection.h"
#include "EventDispatcher.h"
#include "LogCapture.h"
#include "PipeClient.h"
#include "TimerEventClient.h"
#include "monotonicClock.h"

namespace {

typedef std::vector<std::string> Names;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

// (A signal that interrupts an unlimited wait ends it with -1: see
// SignalReactions.SignalEndsTheWaitAndIsHandledOnTheNext.)
TEST(EventWait, PollOnceTimedAndUnlimitedWaits)
{
    Names handled;
    PipeClient message(handled, "message", 0, true);
    PipeClient other(handled, "other");

    EXPECT_EQ(Connection::waitForEvent(-1, nullptr), Connection::WAIT_TIMEOUT);
    message.ready();
    EXPECT_EQ(Connection::waitForEvent(-1, nullptr), Connection::WAIT_MESSAGE);
    EXPECT_EQ(handled, Names{"message"});

    // A pass that handles only another event goes on waiting: the message
    // that comes later still ends this wait, timed or not.
    for (int tenths : {25, 0}) {
        handled.clear();
        std::thread writer([&] {
            sleepMs(150);
            other.ready();
            sleepMs(150);
            message.ready();
        });
        EXPECT_EQ(Connection::waitForEvent(tenths, nullptr), Connection::WAIT_MESSAGE);
        writer.join();
        EXPECT_EQ(handled, (Names{"other", "message"}));
    }

    // 25 tenths bound the whole wait, however many passes other events
    // cause: events every 100 ms for 4 s do not keep it going.
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        for (int i = 0; i < 40 && !stop; ++i) {
            other.ready();
            sleepMs(100);
        }
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Connection::waitForEvent(25, nullptr), Connection::WAIT_TIMEOUT);
    double elapsed = secondsSince(start);
    stop = true;
    busy.join();
    EXPECT_LT(elapsed, 3.5);
}

TEST(EventWait, HighPriorityFirstTheMessageWinsThePassAndDeletedClientsAreSkipped)
{
    Names handled;
    {
        PipeClient low(handled, "socket", 0, true);
        PipeClient high(handled, "signal pipe", 1);
        PipeClient never(handled, "priority 2", 2);
        low.ready();
        high.ready();
        never.ready();
        EXPECT_EQ(Connection::waitForEvent(-1, nullptr), Connection::WAIT_MESSAGE);
        EXPECT_EQ(handled, (Names{"signal pipe", "socket"}));
    }
    handled.clear();
    auto victim = std::make_unique<PipeClient>(handled, "victim", 0, true);
    PipeClient killer(handled, "killer", 1);
    killer.onEvent([&] { victim.reset(); });
    victim->ready();
    killer.ready();
    EXPECT_EQ(Connection::waitForEvent(-1, nullptr), Connection::WAIT_TIMEOUT);
    EXPECT_EQ(handled, Names{"killer"});
}

TEST(EventWait, FilterTargetSelectsTheMessagesThatEndTheWait)
{
    Names handled;
    IPC_Target controller(TextString("127.0.0.1/4000/1"));
    IPC_Target stranger(TextString("127.0.0.1/4001/2"));
    PipeClient fromStranger(handled, "stranger", 0, true, stranger);
    bool strangerFiltered = false;
    fromStranger.onEvent([&] { strangerFiltered = Connection::filteredOut(stranger); });
    fromStranger.ready();
    EXPECT_EQ(Connection::waitForEvent(-1, &controller), Connection::WAIT_TIMEOUT);
    EXPECT_TRUE(strangerFiltered);
    EXPECT_EQ(Connection::filterTarget(), nullptr);

    PipeClient fromController(handled, "controller", 0, true, controller);
    fromController.ready();
    EXPECT_EQ(Connection::waitForEvent(-1, &controller), Connection::WAIT_MESSAGE);
    EXPECT_FALSE(Connection::filteredOut(stranger));  // no wait, no filter
}

TEST(EventWait, DescriptorsOfAnyNumberAndBadOnes)
{
    Names handled;
    PipeClient none(handled, "none", 1, true);
    none.watch(-1);
    none.ready();
    EXPECT_EQ(Connection::waitForEvent(-1, nullptr), Connection::WAIT_TIMEOUT);
    EXPECT_TRUE(handled.empty());

    // A descriptor above FD_SETSIZE is watched like any other.
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int high = 1500;
    if (limit.rlim_cur <= static_cast<rlim_t>(high)) {
        if (limit.rlim_max <= static_cast<rlim_t>(high))
            GTEST_SKIP() << "the descriptor limit does not allow descriptor " << high;
        limit.rlim_cur = high + 1;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    PipeClient far(handled, "far", 0, true);
    ASSERT_EQ(dup2(far.readEnd(), high), high);
    far.watch(high);
    far.ready();
    EXPECT_EQ(Connection::waitForEvent(-1, nullptr), Connection::WAIT_MESSAGE);
    EXPECT_EQ(handled, Names{"far"});

    // A descriptor that is not open fails the wait.
    close(high);
    LogCapture log;
    EXPECT_EQ(Connection::waitForEvent(-1, nullptr), Connection::WAIT_HOPELESS);
    EXPECT_EQ(log.count("select() fail: Bad file descriptor"), 1);
}

namespace {

// Counts its expiries and calls onExpire; in the timer set from the start.
class CountingTimer : public TimerEventClient {
public:
    CountingTimer(int interval, std::function<void(CountingTimer&)> onExpire)
        : _onExpire(std::move(onExpire))
    {
        setInterval(interval);
        EventDispatcher::instance()->addTimer(this);
    }
    void expire() override
    {
        ++expiries;
        _onExpire(*this);
    }
    int expiries = 0;

private:
    std::function<void(CountingTimer&)> _onExpire;
};

}  // namespace

TEST(Timers, ActivationAndTheEngineLoop)
{
    EventDispatcher& dispatcher = *EventDispatcher::instance();
    CountingTimer repeating(30, [&](CountingTimer& t) {
        if (t.expiries == 3)
            dispatcher.stop();
    });
    const int64_t before = monotonicMillis();
    repeating.activate(true);
    const int64_t expiration = repeating.expiration();
    EXPECT_GE(expiration, before + 30);
    repeating.activate(true);  // an active timer keeps its expiration
    EXPECT_EQ(repeating.expiration(), expiration);
    repeating.activate(false);
    EXPECT_EQ(repeating.expiration(), TimerEventClient::INACTIVE);

    CountingTimer once(5, [](CountingTimer& t) { t.activate(false); });
    auto gone = std::make_unique<CountingTimer>(5, [](CountingTimer&) {});
    for (TimerEventClient* t : {static_cast<TimerEventClient*>(&repeating),
                                static_cast<TimerEventClient*>(&once),
                                static_cast<TimerEventClient*>(gone.get())})
        t->activate(true);
    gone.reset();  // a destroyed timer leaves the set
    EXPECT_EQ(dispatcher.timers().count(), 2);

    const auto start = std::chrono::steady_clock::now();
    dispatcher.dispatch(0);
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_TRUE(dispatcher.wasStarted());
    EXPECT_EQ(repeating.expiries, 3);
    EXPECT_EQ(once.expiries, 1);
    EXPECT_FALSE(once.isActive());

    LogCapture log;
    dispatcher.dispatch(7);
    EXPECT_EQ(log.count("There's no dispatch engine registered with the event dispatcher for "
                        "type 7"),
              1);
}
