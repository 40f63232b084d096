// DataRoutingEntry: one client of the data routing manager: its target and
// pattern (CommsRoutingEntry), whether it is ready for the next data item,
// and the items waiting for it, oldest first.  The entry owns its items.
#ifndef DATAROUTINGENTRY_H
#define DATAROUTINGENTRY_H

#include "CommsRoutingEntry.h"
#include "QueueImpl.h"

class Q_Data;

class DataRoutingEntry : public CommsRoutingEntry {
public:
    // Not ready, nothing queued.
    DataRoutingEntry(const IPC_Target& target, const TextString& pattern);
    ~DataRoutingEntry();

    bool isReady() const { return _ready; }
    void setReady(bool ready) { _ready = ready; }

    // Queues a copy of the item; an item whose copy cannot be had is
    // dropped (logged).
    void addData(long productId, long length, const unsigned char* bytes);
    // The oldest item, handed over; null when none waits.
    Q_Data* nextData();
    int queued() const { return _queue.count(); }

private:
    QueueImpl<Q_Data*> _queue;
    bool _ready;
};

#endif
