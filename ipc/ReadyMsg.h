// Module 1, type 0: the client is ready for the next data message.  No
// arguments.
#ifndef READYMSG_H
#define READYMSG_H

#include "ArgPkg0.h"
#include "DataCaptMessage.h"

class ReadyMsg : public DataCaptMessage {
public:
    enum { TYPE = 0 };
    typedef ArgPkg0 Args;

    ReadyMsg() : DataCaptMessage(new Args(), TYPE) {}
};

#endif
