#include "ipcInitialise.h"

#include "CommsReceiver.h"
#include "DataCaptReceiver.h"
#include "FAC_Receiver.h"
#include "ProcMgmtReceiver.h"
#include "SignalCatcher.h"
#include "SocketConnection.h"

// Each self-registering piece of the message layer is made here, in the
// order the process needs them: the signal catcher first, so that a signal
// during the rest of start-up already has its reaction; then the receivers
// by module and the normal-priority connection with its listening socket,
// which fixes the process's own target.
void ipcInitialise()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    SignalCatcher::instance();
    FAC_Receiver::initialise();
    CommsReceiver::initialise();
    ProcMgmtReceiver::initialise();
    DataCaptReceiver::initialise();
    SocketConnection::initialise();
}
