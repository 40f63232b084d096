// Module 0, type 4: a raw product for the comms router: product id, length,
// and the bytes, each as its own XDR unsigned char.
#ifndef RAWPRODUCTMSG_H
#define RAWPRODUCTMSG_H

#include "ArgPkg3.h"
#include "CommsMessage.h"
#include "SeqOf.h"

class RawProductMsg : public CommsMessage {
public:
    enum { TYPE = 4 };
    typedef ArgPkg3<long, long, SeqOf<unsigned char> > Args;  // product id, length, bytes

    RawProductMsg(long productId, long length, const SeqOf<unsigned char>& bytes)
        : CommsMessage(new Args(productId, length, bytes), TYPE)
    {
    }
};

#endif
