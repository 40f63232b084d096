#include "BufrDriver.h"

#include "BufrDecoder.h"
#include "BufrFileDecoder.h"
#include "BufrSignalClient.h"
#include "ChildTargetMsg.h"
#include "Connection.h"
#include "IPC_Target.h"
#include "LogStream.h"
#include "NetcdfPointData.h"
#include "SignalCatcher.h"
#include "dataCaptClient.h"
#include "ipcInitialise.h"
#include "monotonicClock.h"
#include "waitForSignal.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Made empty before main; its destructor deletes the decoders at exit.
BufrDecoderList decoderListObject;
DataCaptReceiver::DataCallback dataHandlerFunction = nullptr;
BufrDecoderList::DecoderObjectInfo* currentDecoderEntry = nullptr;
bool pointDataClosed = false;

// The smallest message that can carry a product id.
const int MIN_PRODUCT_MESSAGE = 40;

// Tenths of a second before a pass that left files for want of descriptors
// or memory runs again.
const int RETRY_TENTHS = 50;

// The pause after a file, ended by a signal: a shutdown asked for during a
// long pass waits for its files, not for their pauses.
int signalAwareSleep(unsigned long microseconds)
{
    return waitForSignal(static_cast<int64_t>(microseconds)) ? -1 : 0;
}

// The command line the program takes, on standard error: for the person
// who started it by hand.
void printUsage(const char* program)
{
    std::fprintf(stderr,
                 "Usage: %s PARENT_TARGET UNIQUE_ID DATA_TYPE, where PARENT_TARGET is the "
                 "parent's host/port/pid or a named target, UNIQUE_ID the number the parent "
                 "gave this child, and DATA_TYPE holds one or more of the data type keys %s "
                 "(for example model or poes_goes)\n",
                 program, BufrDecoderList::keys().c_str());
}

} // namespace

BufrDecoderList& BufrDriver::decoderList()
{
    return decoderListObject;
}

DataCaptReceiver::DataCallback BufrDriver::dataHandler()
{
    return dataHandlerFunction;
}

BufrDecoderList::DecoderObjectInfo* BufrDriver::currentDecoder()
{
    return currentDecoderEntry;
}

void BufrDriver::closePointData()
{
    if (pointDataClosed)
        return;
    pointDataClosed = true;
    QEV_LOG(LogStream::DEBUG, "BufrDriver") << "Syncing and closing the point-data files"
                                            << std::endl;
    NetcdfPointData::deleteAllStores();
}

int BufrDriver::main(int argc, char** argv)
{
    ipcInitialise();
    BufrSignalClient::instance()->setCleanShutdownHook(closePointData);
    const int status = run(argc, argv);
    closePointData();
    return status;
}

int BufrDriver::run(int argc, char** argv)
{
    QEV_LOG(LogStream::EVENT, "BufrDriver") << "BufrDecoder process started" << std::endl;
    const char* program = argc > 0 ? argv[0] : "decoder";
    if (argc <= 3) {
        QEV_LOG(LogStream::PROBLEM, "BufrDriver")
            << program << " passed " << (argc > 0 ? argc - 1 : 0)
            << " arguments, expected 3, exiting" << std::endl;
        printUsage(program);
        return 1;
    }

    // The parent is also the data controller.
    const IPC_Target parent(TextString(argv[1]), true);
    const unsigned long uniqueId = static_cast<unsigned long>(std::strtol(argv[2], nullptr, 10));
    QEV_LOG(LogStream::EVENT, "BufrDriver") << "sending ChildTargetMsg to parent " << std::endl;
    {
        ChildTargetMsg answer(uniqueId, static_cast<int>(getpid()));
        answer.send(parent);
    }

    // The decoder signal client takes the signals before any decoder is
    // made: a decoder that processes its directory while it is constructed
    // then has the file it crashes on moved aside too, so that a restarted
    // process does not meet it again.
    SignalCatcher::instance()->setClient(BufrSignalClient::instance());
    BufrFileDecoder::setSleeper(signalAwareSleep);
    TextString dataType(argv[3]);
    if (!decoderListObject.createDecoders(dataType)) {
        if (decoderListObject.ingestHeldElsewhere()) {
            QEV_LOG(LogStream::PROBLEM, "BufrDriver")
                << "Another decoder process works on the " << argv[3] << " data. Exiting."
                << std::endl;
        } else {
            QEV_LOG(LogStream::PROBLEM, "BufrDriver") << "No decoder objects were created for "
                                                      << argv[3] << " data. Exiting." << std::endl;
            printUsage(program);
        }
        return 1;
    }
    const TextString pattern = decoderListObject.dataRequestPattern();
    if (pattern.length() == 0) {
        QEV_LOG(LogStream::PROBLEM, "BufrDriver")
            << "Error constructing data request pattern. Exiting." << std::endl;
        return 1;
    }
    QEV_LOG(LogStream::EVENT, "BufrDriver")
        << "Sending following data request pattern to DataController: " << pattern << std::endl;

    if (decoderListObject.length() == 1) {
        dataHandlerFunction = processMsg_Single;
        currentDecoderEntry = decoderListObject.entry(0);
    } else {
        dataHandlerFunction = processMsg_Multiple;
    }

    decoderListObject.processAllDirectories();
    registerDataRequest(parent, pattern, dataHandlerFunction);
    const int limit = decoderListObject.minTimeout();
    int64_t registered = monotonicMillis();
    for (;;) {
        // A pass that left files for want of descriptors or memory runs
        // again soon, not at the next data message, which may never come.
        // The period without messages starts again with each message, as
        // a wait of the whole period does; a limit of 0 waits without one.
        const bool retry = decoderListObject.needsRetry();
        const int wait = !retry ? limit : limit > 0 ? std::min(limit, RETRY_TENTHS) : RETRY_TENTHS;
        const int result = Connection::waitForEvent(wait, nullptr);
        if (result == Connection::WAIT_MESSAGE) {
            registered = monotonicMillis();
            continue;
        }
        if (result == Connection::WAIT_TIMEOUT) {
            if (retry) {
                decoderListObject.retryPasses();
                if (limit <= 0 ||
                    monotonicMillis() - registered < static_cast<int64_t>(limit) * 100)
                    continue;
            }
            QEV_LOG(LogStream::PROBLEM, "BufrDriver")
                << "No messages in time period. Re-registering." << std::endl;
            registerDataRequest(parent, pattern, dataHandlerFunction);
            registered = monotonicMillis();
            continue;
        }
        QEV_LOG(LogStream::EVENT, "BufrDriver") << "Connection status = IPC_HOPELESS. Exiting."
                                                << std::endl;
        return 0;
    }
}

void BufrDriver::processMsg_Single(long, int length, char*)
{
    QEV_LOG(LogStream::DEBUG, "BufrDriver") << "processMsg_Single: data length = " << length
                                            << std::endl;
    if (currentDecoderEntry)
        BufrDecoderList::processDirectory(currentDecoderEntry->decoder);
}

void BufrDriver::processMsg_Multiple(long, int length, char* bytes)
{
    QEV_LOG(LogStream::DEBUG, "BufrDriver") << "processMsg_Multiple: data length = " << length
                                            << std::endl;
    if (length < MIN_PRODUCT_MESSAGE || !bytes) {
        QEV_LOG(LogStream::PROBLEM, "BufrDriver")
            << "Product id information not contained in ipc message" << std::endl;
        return;
    }
    // Exactly length bytes, ended by the text's own terminating zero: the
    // search for "." ends at the message's end or at a zero byte in it.
    const TextString text(bytes, length);
    int dot = 0;
    if (!text.indexOfChar('.', dot)) {
        QEV_LOG(LogStream::PROBLEM, "BufrDriver")
            << "Product ID not found in notification message." << std::endl;
        return;
    }
    // A "." among the last 5 characters leaves no id (the index check logs
    // the start past the end).
    const TextString id = text.subString(dot + 5, 6);
    QEV_LOG(LogStream::DEBUG, "BufrDriver") << "Product id = " << id << std::endl;
    currentDecoderEntry = decoderListObject.findDecoder(id);
    if (currentDecoderEntry) {
        BufrDecoderList::processDirectory(currentDecoderEntry->decoder);
        return;
    }
    QEV_LOG(LogStream::PROBLEM, "BufrDriver") << "The following data was not decoded: " << text
                                              << std::endl;
    QEV_LOG(LogStream::PROBLEM, "BufrDriver")
        << id << " is not a valid Product ID for this decoder." << std::endl;
}
