#include "DataRoutingManager.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ChildProcess.h"
#include "ChildProcessSet.h"
#include "DataCaptMessage.h"
#include "DataRoutingEntry.h"
#include "IPC_Target.h"
#include "LogStream.h"
#include "LogText.h"
#include "Q_Data.h"
#include "SeqOfPtr.h"
#include "commsClient.h"
#include "readWordLines.h"

namespace {

const char* const sourceFile = "DataRoutingManager";

SeqOfPtr<DataRoutingEntry*>* routingTable = nullptr;

double wallClock()
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    return now.tv_sec + now.tv_usec / 1e6;
}

void sleepSeconds(unsigned seconds)
{
    sleep(seconds);
}

DataRoutingManager::Clock restartClock = wallClock;
DataRoutingManager::Pause stopPause = sleepSeconds;

// The restart policy's window, shared by all children.
bool newWindow = true;
int windowStartCount = 0;
double windowStart = 0;

void sendData(const IPC_Target& to, long productId, long length, const unsigned char* bytes)
{
    DataCaptMessage* message = DataCaptMessage::newDataMsg(
        productId, static_cast<int>(length), reinterpret_cast<const char*>(bytes));
    message->send(to);
    delete message;
}

// Deletes the first entry of the target with its queued items: false when
// there is none (also for the null target).
bool removeEntryOf(const IPC_Target& target)
{
    // A child that never reported has no entry; an entry without a target
    // belongs to another child that was restarted.
    for (int i = 0; routingTable && !target.isNull() && i < routingTable->length(); ++i) {
        DataRoutingEntry* e = (*routingTable)[i];
        if (e->isTarget(target)) {
            QEV_LOG(LogStream::EVENT, sourceFile) << "Removing target " << target
                                                  << " from routing table" << std::endl;
            delete e;
            routingTable->remove(i, i);
            return true;
        }
    }
    return false;
}

}  // namespace

DataRoutingManager::DataRoutingManager(const TextString& routerName,
                                       const TextString& configFileName)
    : _routerName(routerName), _configFileName(configFileName),
      _children(ChildProcessSet::instance())
{
    QEV_LOG(LogStream::DEBUG, sourceFile) << "Router name = " << LogText(_routerName) << std::endl;
    QEV_LOG(LogStream::DEBUG, sourceFile) << "Config file name = " << LogText(_configFileName)
                                          << std::endl;
    if (!routingTable)
        routingTable = new SeqOfPtr<DataRoutingEntry*>;
}

DataRoutingManager::~DataRoutingManager() {}

int DataRoutingManager::entryCount()
{
    return routingTable ? routingTable->length() : 0;
}

const DataRoutingEntry* DataRoutingManager::entry(int i)
{
    return i >= 0 && i < entryCount() ? (*routingTable)[i] : nullptr;
}

DataRoutingEntry* DataRoutingManager::entryOf(const IPC_Target& target)
{
    if (target.isNull())
        return nullptr;
    for (int i = 0; i < entryCount(); ++i) {
        if ((*routingTable)[i]->isTarget(target))
            return (*routingTable)[i];
    }
    return nullptr;
}

void DataRoutingManager::setRestartClock(Clock clock)
{
    restartClock = clock ? clock : wallClock;
    newWindow = true;
}

void DataRoutingManager::setStopPause(Pause pause)
{
    stopPause = pause ? pause : sleepSeconds;
}

int DataRoutingManager::startChildren()
{
    FILE* file = std::fopen(_configFileName.c_str(), "r");
    if (!file) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "Can't open " << LogText(_configFileName) << std::endl;
        return 0;
    }
    const char* home = std::getenv("QEV_HOME");
    int count = 0;
    const bool read = readWordLines(
        file, _configFileName, CONFIG_LINE_MAX, CONFIG_WORD_MAX,
        [&](int lineNumber, const std::vector<TextString>& words) {
            const TextString& name = words[0];
            if (std::strcmp(name.c_str(), "eof") == 0)
                return false;
            if (words.size() < 2) {
                logSkippedLine(_configFileName, lineNumber, "no restart flag");
                return true;
            }
            const TextString& flag = words[1];
            if (flag.length() > RESTART_FLAG_MAX) {
                logSkippedLine(_configFileName, lineNumber, "a restart flag longer than 15 characters");
                return true;
            }
            QEV_LOG(LogStream::DEBUG, sourceFile) << "exe name = " << LogText(name)
                                                  << "   restartFlag = " << flag << std::endl;
            const TextString path =
                TextString(home ? home : "") + TextString("/bin/") + name;
            QEV_LOG(LogStream::DEBUG, sourceFile) << "exeFilePath " << LogText(path) << std::endl;
            ChildProcess* child;
            if (words.size() > 2) {
                QEV_LOG(LogStream::DEBUG, sourceFile)
                    << "Program arg = " << LogText(words[2]) << std::endl;
                const char* argument = words[2].c_str();
                child = _children->add(path, 1, &argument, this, nullptr,
                                       ChildProcess::OWN_ENVIRONMENT);
            } else {
                QEV_LOG(LogStream::DEBUG, sourceFile) << "No user args specified" << std::endl;
                child = _children->add(path, 0, nullptr, this, nullptr,
                                       ChildProcess::OWN_ENVIRONMENT);
            }
            if (child) {
                ++count;
                child->setAutoRestart(std::strcmp(flag.c_str(), "true") == 0);
            }
            return true;
        });
    if (!read) {
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "Can't read " << LogText(_configFileName) << ": "
                                                << std::strerror(errno) << std::endl;
    }
    std::fclose(file);
    return count;
}

void DataRoutingManager::stopChildren()
{
    const int n = _children->count();
    for (int i = 0; i < n; ++i) {
        ChildProcess* child = _children->child(0);
        if (!child)
            break;
        child->setAutoRestart(false);
        QEV_LOG(LogStream::DEBUG, sourceFile) << "Stopping child " << i << std::endl;
        // Nothing more goes to it: its entries go with it.
        const IPC_Target target = child->target();
        while (removeEntryOf(target)) {
        }
        _children->remove(child, false);
        stopPause(1);
    }
}

TextString DataRoutingManager::compositePattern() const
{
    TextString composite;
    for (int i = 0; i < entryCount(); ++i) {
        const TextString& pattern = (*routingTable)[i]->pattern();
        if (std::strstr(composite.c_str(), pattern.c_str()))
            continue;
        if (composite.length() > 0)
            composite += "|";
        composite += pattern;
    }
    QEV_LOG(LogStream::DEBUG, sourceFile)
        << "CompositPattern = " << LogText(composite) << std::endl;
    return composite;
}

void DataRoutingManager::requestData(const TextString& pattern)
{
    getCommsData(pattern, _routerName, routeData);
}

void DataRoutingManager::registerClient(const IPC_Target& target, const TextString& pattern)
{
    if (target.isNull()) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "registerClient: a data request without a sender ignored" << std::endl;
        return;
    }
    // A child being stopped may still register before it exits; an entry
    // for it would only collect data for a target that is gone.
    if (_children->isFormerChild(target.pid())) {
        QEV_LOG(LogStream::EVENT, sourceFile)
            << "registerClient: " << target
            << " is no child of this router any more; its data request is ignored" << std::endl;
        return;
    }
    for (int i = 0; i < entryCount(); ++i) {
        DataRoutingEntry* e = (*routingTable)[i];
        if (e->isTarget(target)) {
            QEV_LOG(LogStream::VERBOSE, sourceFile) << "registerClient: rebuilding regExpStruct"
                                                    << std::endl;
            e->recompile(pattern);
            return;
        }
        if (e->pattern() == pattern && e->target().isNull()) {
            QEV_LOG(LogStream::EVENT, sourceFile) << "registerClient: resetting new target"
                                                  << " in previous routing entry" << std::endl;
            e->setTarget(target);
            return;
        }
    }
    QEV_LOG(LogStream::VERBOSE, sourceFile) << "registerClient: adding client to routing table"
                                            << std::endl;
    routingTable->append(new DataRoutingEntry(target, pattern));
}

void DataRoutingManager::targetReady(const IPC_Target& target)
{
    DataRoutingEntry* e = entryOf(target);
    if (!e)
        return;
    Q_Data* item = e->nextData();
    if (!item) {
        QEV_LOG(LogStream::VERBOSE, sourceFile) << "No data in queue. Setting ready status"
                                                << std::endl;
        e->setReady(true);
        return;
    }
    QEV_LOG(LogStream::VERBOSE, sourceFile) << "Extracting data from queue" << std::endl;
    QEV_LOG(LogStream::VERBOSE, sourceFile) << "length = " << item->length() << std::endl;
    sendData(target, item->productId(), item->length(), item->data());
    delete item;
}

void DataRoutingManager::routeData(TextString* key, long productId, long length,
                                   unsigned char* bytes)
{
    if (!key || entryCount() == 0)
        return;
    if (length < 0 || !bytes)
        length = 0;
    for (int i = 0; i < entryCount(); ++i) {
        DataRoutingEntry* e = (*routingTable)[i];
        if (!e->matches(key->c_str()))
            continue;
        if (e->isReady()) {
            QEV_LOG(LogStream::VERBOSE, sourceFile) << "Target ready. Sending data" << std::endl;
            sendData(e->target(), productId, length, bytes);
            e->setReady(false);
        } else {
            e->addData(productId, length, bytes);
        }
    }
}

void DataRoutingManager::checkAutoRestart(ChildProcess* child)
{
    const int restarts = child->restartCount();
    QEV_LOG(LogStream::VERBOSE, sourceFile) << "checkAutoRestart: restartCount = " << restarts
                                            << std::endl;
    if (restarts > MOST_RESTARTS) {
        child->setAutoRestart(false);
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "Child restarted too often: "
                                                << LogText(child->executable()) << std::endl;
    }
    if (newWindow) {
        newWindow = false;
        windowStartCount = restarts;
        windowStart = restartClock();
    }
    if (restartClock() - windowStart > WINDOW_SECONDS) {
        if (restarts - windowStartCount >= WINDOW_RESTARTS) {
            child->setAutoRestart(false);
            QEV_LOG(LogStream::PROBLEM, sourceFile) << "Child restarted too often: "
                                                    << LogText(child->executable()) << std::endl;
        } else {
            newWindow = true;
        }
    }
}

void DataRoutingManager::childStarted(ChildProcess*) {}

void DataRoutingManager::childExited(ChildProcess* child)
{
    removeEntryOf(child->target());
    checkAutoRestart(child);
}
void DataRoutingManager::childRestarted(ChildProcess* child)
{
    if (DataRoutingEntry* e = entryOf(child->target())) {
        e->setTarget(IPC_Target());
        e->setReady(false);
    }
    checkAutoRestart(child);
}

void DataRoutingManager::childRestartedStarted(ChildProcess* child)
{
    checkAutoRestart(child);
}
