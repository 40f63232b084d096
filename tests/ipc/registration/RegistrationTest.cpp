// Links only the message layer's library: one call registers what the
// layer makes at start-up, however the executable was linked.
#include <gtest/gtest.h>

#include <csignal>

#include "Dispatcher.h"
#include "EventDispatcher.h"
#include "IpcModule.h"
#include "SignalCatcher.h"
#include "ipcInitialise.h"

namespace {

void* handlerOf(int signal)
{
    struct sigaction action;
    sigaction(signal, nullptr, &action);
    return reinterpret_cast<void*>(action.sa_handler);
}

}  // namespace

TEST(Registration, InitialiseMakesTheCatcherItsPipeAndTheReceiversOnce)
{
    ASSERT_EQ(SignalCatcher::existing(), nullptr);
    ASSERT_EQ(Dispatcher::receiverFor(DATA_CAPT_MODULE), nullptr);
    void* terminateBefore = handlerOf(SIGTERM);
    ipcInitialise();
    SignalCatcher* catcher = SignalCatcher::existing();
    ASSERT_NE(catcher, nullptr);
    EXPECT_NE(catcher->threadSignalCatcher(), nullptr);
    EXPECT_NE(handlerOf(SIGTERM), terminateBefore);
    EXPECT_TRUE(catcher->isWaited(SIGTERM));
    EXPECT_TRUE(EventDispatcher::instance()->waitSet().find(&catcher->signalPipe()));
    EXPECT_TRUE(EventDispatcher::instance()->runSet().find(&catcher->signalPipe()));
    for (int module : {FAC_MODULE, COMMS_MODULE, PROC_MGMT_MODULE, DATA_CAPT_MODULE})
        EXPECT_NE(Dispatcher::receiverFor(module), nullptr) << module;

    ipcInitialise();
    EXPECT_EQ(SignalCatcher::existing(), catcher);
}
