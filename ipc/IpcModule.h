// The receiver modules of the message catalogue: the module number in a
// message header says which receiver handles the message.
#ifndef IPCMODULE_H
#define IPCMODULE_H

enum IpcModule {
    COMMS_MODULE = 0,      // comms router
    DATA_CAPT_MODULE = 1,  // data capture (data controller and its clients)
    DATA_MGMT_MODULE = 2,  // notification of new data
    PROC_MGMT_MODULE = 5,  // process management
    FAC_MODULE = 17        // file-path notices
};

#endif
