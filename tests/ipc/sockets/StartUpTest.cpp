// The socket tests run in a process of their own: the message layer is
// started once, as the decoder process starts it, after a configuration
// that keeps the sockets' buffers small (so that big messages need the
// sending threads).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "AcceptSocket.h"
#include "DataSocket.h"
#include "DataCaptReceiver.h"
#include "Dispatcher.h"
#include "IpcModule.h"
#include "SocketTestSupport.h"
#include "ipcInitialise.h"

namespace {

class MessageLayer : public ::testing::Environment {
public:
    void SetUp() override
    {
        const std::string dir = std::string(std::getenv("QEV_HOME")) + "/data";
        std::system(("mkdir -p " + dir).c_str());
        std::ofstream(dir + "/qev.config") << "int = numBytes, numMins\n"
                                           << "SocketBufferSize.numBytes : 32768\n"
                                           << "SocketConnectionTimeout.numMins : 0\n";
        ipcInitialise();
    }
};

::testing::Environment* const messageLayer =
    ::testing::AddGlobalTestEnvironment(new MessageLayer);

}  // namespace

TEST(StartUp, RegistersTheDataCaptureReceiverAndListensOnTheOwnTarget)
{
    EXPECT_NE(dynamic_cast<DataCaptReceiver*>(Dispatcher::receiverFor(DATA_CAPT_MODULE)), nullptr);
    ASSERT_TRUE(Connection::hasMyTarget());
    const IPC_Target& own = Connection::myTarget();
    EXPECT_EQ(own.kind(), IPC_Target::ADDRESS);
    EXPECT_EQ(own.pid(), getpid());
    ASSERT_NE(sockettest::normalConnection()->acceptSocket(), nullptr);

    // A timeout of 0 minutes is 180 seconds.
    EXPECT_EQ(DataSocket::connectionTimeout(), 180);
}
