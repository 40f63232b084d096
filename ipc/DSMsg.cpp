#include "DSMsg.h"

#include "LogStream.h"
#include "TextString.h"
#include "serializeQuantize.h"

char* DSMsg::quantize(char* body, const char* end, TextString& key, long& productId,
                      long& length)
{
    char* bytes = xdrQuantizeAll(body, end, key, productId, length);
    if (!bytes)
        return nullptr;
    const long left = end > bytes ? static_cast<long>(end - bytes) : 0;
    if (length < 0 || length > left) {
        QEV_LOG(LogStream::PROBLEM, "DSMsg") << "DSMsg length " << length << " does not fit the "
                                             << left << " bytes left in its body" << std::endl;
        return nullptr;
    }
    return bytes;
}
