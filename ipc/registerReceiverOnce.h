// The start-up registration of a module's receiver: the first call makes
// the process's receiver of that class and enters it with the dispatcher;
// later calls change nothing.  The receiver is never destroyed, so that a
// message dispatched from an exit handler still finds it.
#ifndef REGISTERRECEIVERONCE_H
#define REGISTERRECEIVERONCE_H

#include "Dispatcher.h"

template <class R>
R* registerReceiverOnce(int module)
{
    static R* receiver = nullptr;
    if (!receiver) {
        receiver = new R;
        Dispatcher::addReceiver(module, receiver);
    }
    return receiver;
}

#endif
