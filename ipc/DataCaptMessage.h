// The messages of module 1, the data-capture protocol between a data
// controller and its clients: ReadyMsg (type 0), DataReqMsg (1) and the data
// message (2, DataMsg).
#ifndef DATACAPTMESSAGE_H
#define DATACAPTMESSAGE_H

#include "IpcModule.h"
#include "ParameterizedMsg.h"

class DataCaptMessage : public ParameterizedMsg {
public:
    DataCaptMessage(ArgPkgABC* args, short type) : ParameterizedMsg(args, type, DATA_CAPT_MODULE)
    {
    }

    // A new data message carrying the product id and a copy of count bytes;
    // the caller sends and deletes it.  A negative count or null bytes with
    // a positive count carry no bytes (logged).
    static DataCaptMessage* newDataMsg(long productId, int count, const char* bytes);
};

#endif
