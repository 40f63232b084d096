// The messages of module 2, data management: the notification of new data
// (type 10), a data-access key and the data time, sent to the notification
// server.
#ifndef DATAMGMTMSG_H
#define DATAMGMTMSG_H

#include "ArgPkg2.h"
#include "DataTime.h"
#include "IpcModule.h"
#include "ParameterizedMsg.h"

class DataMgmtMsg : public ParameterizedMsg {
public:
    enum { NEW_DATA = 10 };
    typedef ArgPkg2<unsigned long, DataTime> NewDataArgs;  // key, data time

    DataMgmtMsg(ArgPkgABC* args, short type) : ParameterizedMsg(args, type, DATA_MGMT_MODULE) {}
    // The notification of new data.
    DataMgmtMsg(unsigned long key, const DataTime& time)
        : ParameterizedMsg(new NewDataArgs(key, time), NEW_DATA, DATA_MGMT_MODULE)
    {
    }
};

#endif
