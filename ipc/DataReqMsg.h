// Module 1, type 1: a client's data request, the pattern of the products it
// wants.
#ifndef DATAREQMSG_H
#define DATAREQMSG_H

#include "ArgPkg1.h"
#include "DataCaptMessage.h"
#include "TextString.h"

class DataReqMsg : public DataCaptMessage {
public:
    enum { TYPE = 1 };
    typedef ArgPkg1<TextString> Args;  // the pattern

    explicit DataReqMsg(const TextString& pattern) : DataCaptMessage(new Args(pattern), TYPE) {}
};

#endif
