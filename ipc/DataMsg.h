// Module 1, type 2: the data message, a product id and the product's bytes
// (a byte array: its count, then the bytes as XDR opaque data).
#ifndef DATAMSG_H
#define DATAMSG_H

#include "ArgPkg2.h"
#include "DataCaptMessage.h"
#include "SeqOf.h"

class DataMsg : public DataCaptMessage {
public:
    enum { TYPE = 2 };
    typedef ArgPkg2<long, SeqOf<char> > Args;  // product id, bytes

    DataMsg(long productId, const SeqOf<char>& bytes)
        : DataCaptMessage(new Args(productId, bytes), TYPE)
    {
    }
};

#endif
