#include "CommsMessage.h"

#include <cstdint>

#include "AbsTime.h"
#include "CDMsg.h"
#include "CRMsg.h"
#include "LogStream.h"
#include "LogText.h"
#include "RawProductMsg.h"
#include "RestartMsg.h"
#include "TextString.h"

namespace {

// A copy of length bytes; empty for a negative length or no bytes.
SeqOf<unsigned char> copyBytes(long length, const unsigned char* bytes)
{
    if (length <= 0 || !bytes || length > INT32_MAX)
        return SeqOf<unsigned char>();
    return SeqOf<unsigned char>(bytes, static_cast<int>(length));
}

}  // namespace

CommsMessage* CommsMessage::newRawProductMsg(long productId, long length,
                                             const unsigned char* bytes)
{
    return new RawProductMsg(productId, length, copyBytes(length, bytes));
}

CommsMessage* CommsMessage::newCommsReqMsg(const TextString& pattern)
{
    QEV_LOG(LogStream::DEBUG, "CommsMessage") << "newCommsReqMsg: pattern = " << LogText(pattern)
                                              << std::endl;
    return new CRMsg(pattern);
}

CommsMessage* CommsMessage::newCDMsg(const TextString& key, long productId, long length,
                                     const unsigned char* bytes)
{
    return new CDMsg(key, productId, length, copyBytes(length, bytes));
}

CommsMessage* CommsMessage::newRestartMsg()
{
    return new RestartMsg(AbsTime::now());
}
