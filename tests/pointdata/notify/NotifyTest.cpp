// The notification of new data over real TCP to the test peer: its own
// process, since the named targets are read once per process.
#include "dmNotify.h"

#include "WirePeer.h"
#include "ipcInitialise.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

TEST(Notify, SendsTheKeyAndTheDataTimeToTheNotificationServer)
{
    const AbsTime t(1173895200);
    // Before any configuration names the server (in a child, so that this
    // process reads its configuration only below): nothing is sent.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ipcInitialise();
        _exit(dmNotify(10005, DataTime(t)) ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    WirePeer peer;
    ASSERT_TRUE(peer.listening());
    const std::string data = std::string(getenv("QEV_HOME")) + "/data";
    std::filesystem::create_directories(data);
    std::ofstream(data + "/qev.config")
        << WirePeer::namedTargetsConfig({peer.namedTargetEntry("NOTIFICATION_SERVER")});
    ipcInitialise();

    DataTime forecast(t);
    forecast.setFcstPeriod(21600);
    ASSERT_TRUE(dmNotify(10005, DataTime(t)));
    ASSERT_TRUE(dmNotify(10001, forecast));
    WirePeer::Message m;
    ASSERT_TRUE(peer.waitFor(2, 10, 5000, &m));
    EXPECT_TRUE(m.ok) << m.error;
    EXPECT_EQ(m.key, 10005u);
    EXPECT_EQ(m.dataTime.flags, 0x300u);
    EXPECT_EQ(m.dataTime.refTime, t.seconds());
    EXPECT_EQ(m.body.size(), 4u + 8u);
    ASSERT_TRUE(peer.waitFor(2, 10, 5000, &m));
    EXPECT_TRUE(m.ok) << m.error;
    EXPECT_EQ(m.key, 10001u);
    EXPECT_EQ(m.dataTime.flags, 0x700u);
    EXPECT_EQ(m.dataTime.fcstPeriod, 21600);
    EXPECT_EQ(m.body.size(), 4u + 12u);
}

} // namespace
