// Module 0, type 7: comms data for a client: key, product id, length, and
// the bytes, each as its own XDR unsigned char.
#ifndef CDMSG_H
#define CDMSG_H

#include "ArgPkg4.h"
#include "CommsMessage.h"
#include "SeqOf.h"
#include "TextString.h"

class CDMsg : public CommsMessage {
public:
    enum { TYPE = 7 };
    typedef ArgPkg4<TextString, long, long, SeqOf<unsigned char> > Args;

    CDMsg(const TextString& key, long productId, long length, const SeqOf<unsigned char>& bytes)
        : CommsMessage(new Args(key, productId, length, bytes), TYPE)
    {
    }
};

#endif
