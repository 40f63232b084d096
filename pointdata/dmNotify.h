// The notification of new data: one message per product key and data time
// to the notification server.
#ifndef DMNOTIFY_H
#define DMNOTIFY_H

#include "DataAccessKey.h"
#include "DataTime.h"

// Sends a DataMgmtMsg (module 2, type 10, priority 0, delivery mode 0)
// carrying the key and the time to the named target "NOTIFICATION_SERVER".
// True when the message was sent, or queued behind others the server has
// not read yet; a target that cannot be named or reached is reported by the
// messaging layer, and the result is false.
//
// Notifications are best effort, and a server that does not take them never
// holds the caller: the connect waits a few seconds at most
// (DataSocket::CONNECT_WAIT_SECONDS), and a server that took no connection
// within that wait is not tried again for 30 seconds, the notifications
// meanwhile failing at once.  A time of failures is logged once when it
// begins and once, with the count of notifications dropped, when a
// notification is sent again (written, not merely queued) or the process
// ends.  A notification dropped because the server has not read those
// queued for it is false too; the messaging layer logs that time (and its
// count) itself.  Main thread.
bool dmNotify(DataAccessKey key, DataTime time);

// Whether the notification that failed last fell in a time of failures that
// an earlier failure began, or was dropped at the server's full queue: the
// callers' own line for a failed notification is then written once per such
// time, not once per notification.
bool dmNotifyFailureLogged();

#endif
