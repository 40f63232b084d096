// Module 0, type 6: a client's data request to the comms router, its pattern.
#ifndef CRMSG_H
#define CRMSG_H

#include "ArgPkg1.h"
#include "CommsMessage.h"
#include "TextString.h"

class CRMsg : public CommsMessage {
public:
    enum { TYPE = 6 };
    typedef ArgPkg1<TextString> Args;  // the pattern

    explicit CRMsg(const TextString& pattern) : CommsMessage(new Args(pattern), TYPE) {}
};

#endif
