// Named targets from a configuration file: this folder is its own process,
// since the configuration is read once per process.
#include "IPC_Target.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "LogCapture.h"

namespace {

// Writes $QEV_HOME/data/qev.config before the first look-up of a name.
void writeConfig()
{
    const std::string dir = std::string(std::getenv("QEV_HOME")) + "/data";
    std::system(("mkdir -p " + dir).c_str());
    std::ofstream out(dir + "/qev.config");
    out << "SeqOfTextString = namedTargets\n"
        << "SocketConnection.namedTargets : NOTIFICATION_SERVER, 127.0.0.1, 0x1f90, BAD, "
           "no.such.host.invalid, 1, DATA_CONTROLLER, localhost, 40001, DANGLING\n";
}

}  // namespace

TEST(NamedTargets, ComeFromTheConfigurationInTriples)
{
    writeConfig();
    LogCapture log;
    const IPC_Target server(TextString("NOTIFICATION_SERVER"));
    EXPECT_EQ(log.count("Warning: no host and/or port specified for last"), 1);
    EXPECT_EQ(log.count(" named target in ipc.config; it will be ignored"), 1);
    EXPECT_EQ(log.count("Can't create an IPC target with invalid host: no.such.host.invalid"), 1);
    EXPECT_EQ(log.count("Making a null target instead."), 0);

    EXPECT_EQ(server.kind(), IPC_Target::NAMED);
    EXPECT_EQ(server.port(), 8080);
    EXPECT_EQ(server.hostAddress().networkWord(), htonl(0x7f000001));
    EXPECT_EQ(server.pid(), 0);
    EXPECT_STREQ(server.address().c_str(), "NOTIFICATION_SERVER");

    const IPC_Target controller(TextString("DATA_CONTROLLER"));
    EXPECT_EQ(controller.port(), 40001);
    EXPECT_NE(controller, server);
    EXPECT_TRUE(controller < server);  // by name
    EXPECT_TRUE(IPC_Target() < controller);
    EXPECT_TRUE(controller < IPC_Target(TextString("127.0.0.1/1/1")));

    log.clear();
    EXPECT_TRUE(IPC_Target(TextString("BAD")).isNull());
    EXPECT_TRUE(IPC_Target(TextString("DANGLING")).isNull());
    EXPECT_EQ(log.count("Can't name IPC_Target: "), 2);
    EXPECT_EQ(log.count("Warning"), 0);  // the table is not read again
}
