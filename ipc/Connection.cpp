#include "Connection.h"

#include "AbsTime.h"
#include "EventDispatcher.h"
#include "IPC_Target.h"
#include "IpAddress.h"
#include "LogStream.h"
#include "LogText.h"
#include "PeerLineCap.h"
#include "monotonicClock.h"
#include "selectWrapper.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <vector>

namespace {

Set<Connection*>* table = nullptr;
IPC_Target* ownTarget = nullptr;
Connection::Maker maker = nullptr;
Connection::StatReporter statReporter = nullptr;

// The wait state shared with the data sockets.
bool messageArrivedFlag = false;
const IPC_Target* filter = nullptr;

// Set during static initialisation and after each report.
time_t lastReport = std::time(nullptr);

// A copy of the table, for walks whose steps may change it.
std::vector<Connection*> tableSnapshot()
{
    const Set<Connection*>& all = Connection::connections();
    std::vector<Connection*> snapshot;
    for (int i = 0; i < all.count(); ++i)
        snapshot.push_back(all[i]);
    return snapshot;
}

int waitEnd(int result)
{
    filter = nullptr;
    return result;
}

} // namespace

Connection::Connection(int priority) : _priority(priority)
{
    static bool exitHandlerRegistered = false;
    if (!exitHandlerRegistered) {
        exitHandlerRegistered = true;
        std::atexit(closeAll);
    }
    if (!table)
        table = new Set<Connection*>;
    table->insert(this);
}

Connection::~Connection()
{
    if (!table)
        return;
    table->remove(this);
    if (table->count() == 0) {
        delete table;
        table = nullptr;
    }
}

SocketConnection* Connection::socketConnection()
{
    return nullptr;
}

const Set<Connection*>& Connection::connections()
{
    static const Set<Connection*> none;
    return table ? *table : none;
}

Connection* Connection::connectionFor(int priority)
{
    const Set<Connection*>& all = connections();
    for (int i = 0; i < all.count(); ++i) {
        if (all[i]->priority() == priority)
            return all[i];
    }
    if (!maker) {
        QEV_LOG(LogStream::BUG, "Connection")
            << "No kind of connection installed to make one of priority " << priority
            << std::endl;
        return nullptr;
    }
    return maker(priority);
}

void Connection::setMaker(Maker m)
{
    maker = m;
}

void Connection::setStatReporter(StatReporter reporter)
{
    statReporter = reporter;
}

const IPC_Target& Connection::myTarget()
{
    if (ownTarget)
        return *ownTarget;
    std::fputs("Connection::myTarget() has been called before Connection::setMyTarget().\n",
               stderr);
    static const IPC_Target nullTarget;
    return nullTarget;
}

bool Connection::hasMyTarget()
{
    return ownTarget != nullptr;
}

void Connection::storeMyTarget(const IPC_Target& target)
{
    if (ownTarget)
        *ownTarget = target;
    else
        ownTarget = new IPC_Target(target);
}

void Connection::setMyTarget(const IPC_Target& target)
{
    if (target.kind() == IPC_Target::ADDRESS) {
        QEV_LOG(LogStream::PROBLEM, "Connection")
            << "Can't rename our target to a anonymous target." << std::endl;
        return;
    }
    if (target.kind() == IPC_Target::NAMED) {
        IpAddress host = target.hostAddress();
        IpAddress here;
        if (host != here && host != IpAddress(TextString("127.0.0.1"))) {
            QEV_LOG(LogStream::EVENT, "Connection")
                << "WARNING: this process wants to use target " << target << "\n"
                << " which is assigned to run on " << LogText(host.hostName()) << "\n"
                << " but the current host is " << LogText(here.hostName()) << std::endl;
        }
    }
    for (Connection* c : tableSnapshot()) {
        if (!c->claimTarget(target))
            return;
    }
    if (!target.isNull())
        storeMyTarget(target);
}

bool Connection::isConnectedAnywhere(const IPC_Target& target)
{
    const Set<Connection*>& all = connections();
    for (int i = 0; i < all.count(); ++i) {
        if (all[i]->isConnected(target))
            return true;
    }
    return false;
}

int Connection::waitForEvent(int timeoutTenths, const IPC_Target* from)
{
    // The whole wait is bounded, not each pass: a pass that handled only
    // other events (a signal-pipe read, an accepted peer) leaves less time
    // for the next one.
    bool unlimited = timeoutTenths == 0;
    int64_t deadline = monotonicMillis();
    if (timeoutTenths > 0)
        deadline += static_cast<int64_t>(timeoutTenths) * 100;

    messageArrivedFlag = false;
    filter = from;
    Set<DescriptorEventClient*>& clients = EventDispatcher::instance()->waitSet();
    for (;;) {
        int wait = unlimited ? -1 : pollTimeout(deadline - monotonicMillis());
        // The counts of capped log lines go out when their peer has gone
        // quiet, whether or not anything else happens.
        const int64_t countDue = PeerLineCap::dueInMillis();
        const bool waitForCount = countDue >= 0 && (wait < 0 || countDue < wait);
        if (waitForCount)
            wait = pollTimeout(countDue);
        int result = selectWrapper(clients, wait);
        PeerLineCap::writeDue();
        if (messageArrivedFlag)
            return waitEnd(WAIT_MESSAGE);
        if (result == SELECT_TIMED_OUT && waitForCount &&
            (unlimited || monotonicMillis() < deadline))
            continue;
        if (result != SELECT_HANDLED)
            return waitEnd(result == SELECT_FAILED ? WAIT_HOPELESS : WAIT_TIMEOUT);
        if (!unlimited && monotonicMillis() >= deadline)
            return waitEnd(WAIT_TIMEOUT);
    }
}

void Connection::noteMessage(const IPC_Target& peer)
{
    messageArrivedFlag = !(filter && peer != *filter);
}

bool Connection::messageArrived()
{
    return messageArrivedFlag;
}

const IPC_Target* Connection::filterTarget()
{
    return filter;
}

bool Connection::filteredOut(const IPC_Target& peer)
{
    return filter && !peer.isNull() && peer != *filter;
}

void Connection::clearFilter()
{
    filter = nullptr;
}

void Connection::statReport()
{
    time_t now = std::time(nullptr);
    std::ostringstream text;
    text << "IPC STATISTICS for " << myTarget() << " from " << reportTime(lastReport) << " to "
         << reportTime(now) << "\n";
    if (statReporter)
        statReporter(text, connections());
    QEV_LOG(LogStream::DIAG, "Connection") << "\n" << text.str() << std::endl;
    lastReport = now;
}

TextString Connection::reportTime(time_t t)
{
    return AbsTime(static_cast<int32_t>(t)).toString("%h %d %y %T GMT");
}

void Connection::closeAll()
{
    for (Connection* c : tableSnapshot())
        delete c;
}
