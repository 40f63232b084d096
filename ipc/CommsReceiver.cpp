#include "CommsReceiver.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "CDMsg.h"
#include "CRMsg.h"
#include "CommsRoutingTable.h"
#include "DSMsg.h"
#include "IPC_Target.h"
#include "IpcModule.h"
#include "LogStream.h"
#include "LogText.h"
#include "PeerLineCap.h"
#include "RawProductMsg.h"
#include "RestartMsg.h"
#include "SeqOfPtr.h"
#include "productKeyPatterns.h"
#include "registerReceiverOnce.h"

namespace {

const char* const sourceFile = "CommsReceiver";

SeqOfPtr<CommsReceiver::DataCallback>& callbacks()
{
    static SeqOfPtr<CommsReceiver::DataCallback>* list =
        new SeqOfPtr<CommsReceiver::DataCallback>;
    return *list;
}

// The length field of a message held to the bytes it carries.
long bytesPresent(const char* message, long length, int carried)
{
    const long present = std::max(0L, std::min(length, static_cast<long>(carried)));
    if (present != length) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << message << " length " << length << " does not match the " << carried
            << " bytes it carries; " << present << " taken" << std::endl;
    }
    return present;
}

// A byte sequence in its output form, for a log line.
std::string bytesText(const SeqOf<unsigned char>& bytes)
{
    std::ostringstream text;
    text << bytes;
    return text.str();
}

// The first n bytes of a sequence and a terminating zero.
std::vector<unsigned char> copyOf(const SeqOf<unsigned char>& bytes, long n)
{
    std::vector<unsigned char> buffer(static_cast<size_t>(n) + 1, 0);
    if (n > 0)
        std::memcpy(buffer.data(), bytes.elements(), static_cast<size_t>(n));
    return buffer;
}

}  // namespace

void CommsReceiver::addDataCallback(DataCallback callback)
{
    if (callbacks().find(callback) < 0)
        callbacks().append(callback);
}

int CommsReceiver::dataCallbackCount()
{
    return callbacks().length();
}

void CommsReceiver::initialise()
{
    registerReceiverOnce<CommsReceiver>(COMMS_MODULE);
}

void CommsReceiver::receive(const short* type, const IPC_Target& sender,
                            unsigned long bodyLength, char* body)
{
    const char* end = body + bodyLength;
    switch (*type) {
    case RawProductMsg::TYPE:
        receiveRawProductMsg(body, end);
        break;
    case DSMsg::TYPE:
    case DSMsg::OTHER_TYPE:
        receiveDSMsg(body, end);
        break;
    case CRMsg::TYPE:
        receiveCRMsg(sender, body, end);
        break;
    case CDMsg::TYPE:
        receiveCDMsg(body, end);
        break;
    case RestartMsg::TYPE:
        QEV_LOG(LogStream::EVENT, sourceFile) << "CommsRouter has restarted." << std::endl;
        break;
    default:
        QEV_LOG(LogStream::BUG, sourceFile) << "MXR_FAIL Unrecognized message type: " << *type
                                            << std::endl;
        break;
    }
}

void CommsReceiver::logByteStream(long length, const unsigned char* bytes)
{
    QEV_LOG(LogStream::VERBOSE, sourceFile) << "Byte stream length = " << length << std::endl;
    const int n = bytes ? static_cast<int>(std::max(0L, std::min(length, 45L))) : 0;
    // The bytes and a newline in the byte sequence's output form, the
    // peer's bytes with their control characters escaped.
    std::string shown = "[";
    for (int i = 0; i < n; ++i)
        shown += LogText(reinterpret_cast<const char*>(bytes) + i, 1).escaped() + ", ";
    shown += "\n ]";
    QEV_LOG(LogStream::PROBLEM, sourceFile) << shown << std::endl;
}

void CommsReceiver::receiveRawProductMsg(char* body, const char* end)
{
    RawProductMsg::Args args;
    if (!args.quantize(body, end))
        return;  // logged by the decoder
    QEV_LOG(LogStream::DEBUG, sourceFile) << "Data: " << LogText(bytesText(args.arg3()))
                                          << std::endl;
    const long length = bytesPresent("RawProductMsg", args.arg2(), args.arg3().length());
    std::vector<unsigned char> buffer = copyOf(args.arg3(), length);
    const char* key = findProductKey(reinterpret_cast<const char*>(buffer.data()),
                                     static_cast<int>(length));
    if (!key || std::strlen(key) < 2) {
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "MXR_FAIL Couldn't find key in raw product msg:"
                                                << std::endl;
        logByteStream(length, buffer.data());
        return;
    }
    TextString keyText(key);
    QEV_LOG(LogStream::EVENT, sourceFile) << "MXR_ENTRY RawProductMsg: " << LogText(keyText) << " "
                                          << args.arg1() << " " << length << std::endl;
    CommsRoutingTable::instance()->routeData(&keyText, args.arg1(), length, buffer.data());
}

void CommsReceiver::receiveDSMsg(char* body, const char* end)
{
    TextString key;
    long productId = 0;
    long length = 0;
    char* bytes = DSMsg::quantize(body, end, key, productId, length);
    if (!bytes)
        return;  // logged by DSMsg
    QEV_LOG(LogStream::EVENT, sourceFile) << "MXR_ENTRY DSMsg: " << LogText(key) << " " << productId
                                          << " " << length << std::endl;
    CommsRoutingTable::instance()->routeData(&key, productId, length,
                                             reinterpret_cast<unsigned char*>(bytes));
}

void CommsReceiver::receiveCRMsg(const IPC_Target& sender, char* body, const char* end)
{
    CRMsg::Args args;
    if (!args.quantize(body, end))
        return;
    if (PeerLineCap::admit(LogStream::EVENT, sourceFile, "MXR_ENTRY CRMsg Pattern: ...", sender))
        QEV_LOG(LogStream::EVENT, sourceFile) << "MXR_ENTRY CRMsg Pattern: " << LogText(args.arg1())
                                              << std::endl;
    CommsRoutingTable::instance()->addClient(sender, args.arg1());
    QEV_LOG(LogStream::DEBUG, sourceFile) << "Client registered" << std::endl;
}

void CommsReceiver::receiveCDMsg(char* body, const char* end)
{
    CDMsg::Args args;
    if (!args.quantize(body, end))
        return;
    const long length = bytesPresent("CDMsg", args.arg3(), args.arg4().length());
    std::vector<unsigned char> buffer = copyOf(args.arg4(), length);
    TextString key = args.arg1();
    const long productId = args.arg2();
    QEV_LOG(LogStream::EVENT, sourceFile)
        << "MXR_ENTRY CDMsg: " << LogText(key) << " " << productId << " " << length << std::endl;
    // A callback may add another: the list is walked by index.
    for (int i = 0; i < callbacks().length(); ++i)
        callbacks()[i](&key, productId, length, buffer.data());
}
