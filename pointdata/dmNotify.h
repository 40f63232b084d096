// The notification of new data: one message per product key and data time
// to the notification server.
#ifndef DMNOTIFY_H
#define DMNOTIFY_H

#include "DataAccessKey.h"
#include "DataTime.h"

// Sends a DataMgmtMsg (module 2, type 10, priority 0, delivery mode 0)
// carrying the key and the time to the named target "NOTIFICATION_SERVER".
// True when the message was sent; a target that cannot be named or reached
// is reported by the messaging layer, and the result is false.
bool dmNotify(DataAccessKey key, DataTime time);

#endif
