// The socket tests run in a process of their own: the message layer is
// started once, as the decoder process starts it, after a configuration
// that keeps the sockets' buffers small (so that big messages need the
// sending threads).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "AcceptSocket.h"
#include "DataSocket.h"
#include "DataCaptReceiver.h"
#include "Dispatcher.h"
#include "IpcModule.h"
#include "SocketTestSupport.h"
#include "ThreadDataSocket.h"
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

// A descriptor accepted from a non-blocking listening socket may come
// non-blocking (some systems hand the flag on); the data socket made from it
// is blocking, as the sending thread's writes need.
TEST(StartUp, DataSocketsAreBlockingWhateverTheirDescriptorWas)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    struct pollfd ready = {listener, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 5000), 1);
    const int accepted = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
    ASSERT_NE(accepted, -1);

    ThreadDataSocket socket(accepted, Connection::connectionFor(Connection::NORMAL_PRIORITY),
                            false);
    EXPECT_EQ(fcntl(socket.descriptor(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_TRUE(socket.setNonBlocking(true));
    EXPECT_NE(fcntl(socket.descriptor(), F_GETFL) & O_NONBLOCK, 0);
    ::close(client);
    ::close(listener);
}
