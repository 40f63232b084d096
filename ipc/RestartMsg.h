// Module 0, type 9: the comms router's restart notice, its restart time.
#ifndef RESTARTMSG_H
#define RESTARTMSG_H

#include "AbsTime.h"
#include "ArgPkg1.h"
#include "CommsMessage.h"

class RestartMsg : public CommsMessage {
public:
    enum { TYPE = 9 };
    typedef ArgPkg1<AbsTime> Args;  // the restart time

    explicit RestartMsg(const AbsTime& time) : CommsMessage(new Args(time), TYPE) {}
};

#endif
