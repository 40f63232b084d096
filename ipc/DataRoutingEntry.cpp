#include "DataRoutingEntry.h"

#include "LogStream.h"
#include "Q_Data.h"

DataRoutingEntry::DataRoutingEntry(const IPC_Target& target, const TextString& pattern)
    : CommsRoutingEntry(target, pattern), _ready(false)
{
}

DataRoutingEntry::~DataRoutingEntry()
{
    while (!_queue.isEmpty())
        delete _queue.dequeue();
}

void DataRoutingEntry::addData(long productId, long length, const unsigned char* bytes)
{
    QEV_LOG(LogStream::VERBOSE, "DataRoutingEntry") << "Target not ready. Putting data on queue"
                                                    << std::endl;
    Q_Data* item = new Q_Data(productId, length);
    if (!item->setData(bytes)) {
        QEV_LOG(LogStream::PROBLEM, "DataRoutingEntry") << "Data not added to queue" << std::endl;
        delete item;
        return;
    }
    QEV_LOG(LogStream::VERBOSE, "DataRoutingEntry") << "   length = " << item->length()
                                                    << std::endl;
    _queue.enqueue(item);
}

Q_Data* DataRoutingEntry::nextData()
{
    return _queue.isEmpty() ? nullptr : _queue.dequeue();
}
