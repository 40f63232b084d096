#include "DataCaptMessage.h"

#include "DataMsg.h"
#include "LogStream.h"

DataCaptMessage* DataCaptMessage::newDataMsg(long productId, int count, const char* bytes)
{
    if (count < 0 || (count > 0 && !bytes)) {
        QEV_LOG(LogStream::BUG, "DataCaptMessage")
            << "newDataMsg: no bytes for a count of " << count << std::endl;
        count = 0;
    }
    return new DataMsg(productId, count > 0 ? SeqOf<char>(bytes, count) : SeqOf<char>());
}
