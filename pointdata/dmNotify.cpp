#include "dmNotify.h"

#include "DataMgmtMsg.h"
#include "IPC_Target.h"

bool dmNotify(DataAccessKey key, DataTime time)
{
    const IPC_Target server(TextString("NOTIFICATION_SERVER"));
    const DataMgmtMsg message(key, time);
    return message.send(server) == 0;
}
