#include <gtest/gtest.h>

#include <sstream>

#include "Connection.h"
#include "IPC_Target.h"
#include "LogCapture.h"

namespace {

class FakeConnection : public Connection {
public:
    explicit FakeConnection(int priority, bool claims = true)
        : Connection(priority), _claims(claims)
    {
    }
    bool claimTarget(const IPC_Target&) override
    {
        ++claims;
        return _claims;
    }
    bool isConnected(const IPC_Target&) override { return false; }
    int send(const IPC_Target&, int, int, char* buffer) override
    {
        delete[] buffer;
        return 0;
    }
    int claims = 0;

private:
    bool _claims;
};

}  // namespace

TEST(Connection, TableByPriorityAndTheMaker)
{
    LogCapture log;
    Connection::setMaker(nullptr);
    EXPECT_EQ(Connection::connectionFor(0), nullptr);
    EXPECT_EQ(log.count("No kind of connection installed to make one of priority 0"), 1);

    Connection::setMaker([](int priority) -> Connection* { return new FakeConnection(priority); });
    Connection* normal = Connection::connectionFor(0);
    Connection* high = Connection::connectionFor(1);
    ASSERT_NE(normal, nullptr);
    ASSERT_NE(high, nullptr);
    EXPECT_NE(high, normal);
    EXPECT_EQ(high->priority(), 1);
    EXPECT_EQ(Connection::connectionFor(1), high);
    EXPECT_EQ(Connection::connections().count(), 2);

    Connection::closeAll();
    EXPECT_EQ(Connection::connections().count(), 0);
    Connection::setMaker(nullptr);
}

TEST(Connection, OwnTargetAndTheStatisticsReport)
{
    LogCapture log;
    EXPECT_FALSE(Connection::hasMyTarget());
    EXPECT_TRUE(Connection::myTarget().isNull());
    EXPECT_EQ(log.count("Connection::myTarget() has been called before Connection::setMyTarget()."),
              1);

    // An address target is refused before any connection is asked.
    FakeConnection refusing(0, false);
    IPC_Target address(TextString("127.0.0.1/4000/1"));
    Connection::setMyTarget(address);
    EXPECT_EQ(log.count("Can't rename our target to a anonymous target."), 1);
    EXPECT_EQ(refusing.claims, 0);
    EXPECT_FALSE(Connection::hasMyTarget());

    Connection::storeMyTarget(address);
    EXPECT_EQ(Connection::myTarget(), address);

    log.clear();
    Connection::setStatReporter([](std::ostream& out, const Set<Connection*>& connections) {
        out << connections.count() << " connections in the socket part";
    });
    Connection::statReport();
    for (const char* part :
         {"IPC STATISTICS for ", "/4000/1 from ", " GMT to ", "1 connections in the socket part"})
        EXPECT_TRUE(log.contains(part)) << part << "\n" << log.text();
    Connection::setStatReporter(nullptr);
}
