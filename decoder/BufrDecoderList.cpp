#include "BufrDecoderList.h"

#include "BufrDecoder.h"
#include "BufrFileDecoder.h"
#include "LogStream.h"

#include <cstring>
#include <exception>

namespace {

struct DecoderKind {
    const char* key;
    const char* createdText;
    BufrDecoderList::DecoderFactory factory;
};

// The data types in the order their keys are tested.
DecoderKind decoderKinds[] = {
    {"model", "Object for decoding Model Sounding data created", nullptr},
    {"goes", "Object for decoding GOES Sounding data created", nullptr},
    {"poes", "Object for decoding POES Sounding data created", nullptr},
    {"acars", "Object for decoding ACARS data created", nullptr},
    {"csw", "Object for decoding High Density Winds data created", nullptr},
    {"prof", "Object for decoding profiler data created", nullptr},
    {"quikscat", "Object for decoding Seawinds data created", nullptr},
};

// The decoder of a kind, or null (logged) when the program has none or it
// could not be made.
BufrDecoder* makeDecoder(const DecoderKind& kind)
{
    if (!kind.factory) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoderList")
            << "This program has no decoder for the data type key " << kind.key << std::endl;
        return nullptr;
    }
    QEV_LOG(LogStream::EVENT, "BufrDecoderList") << kind.createdText << std::endl;
    try {
        return kind.factory();
    } catch (const std::exception& e) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoderList")
            << "Unable to create the decoder for " << kind.key << ": " << e.what() << std::endl;
        return nullptr;
    }
}

// Compiles the entry's pattern; an empty or faulty one stays uncompiled.
void compilePattern(BufrDecoderList::DecoderObjectInfo& info, const char* key)
{
    if (info.pattern.length() == 0) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoderList")
            << "The " << key << " decoder has no product pattern; no data message selects it"
            << std::endl;
        return;
    }
    const int status = regcomp(&info.regex, info.pattern.c_str(), REG_EXTENDED);
    if (status != 0) {
        char reason[256];
        regerror(status, &info.regex, reason, sizeof reason);
        QEV_LOG(LogStream::PROBLEM, "BufrDecoderList")
            << "The product pattern [" << info.pattern << "] of the " << key
            << " decoder does not compile (" << reason << "); no data message selects it"
            << std::endl;
        return;
    }
    info.compiled = true;
}

// Appends item to a list of items joined with separator.
void appendJoined(TextString& list, const char* separator, const TextString& item)
{
    if (list.length() > 0)
        list += separator;
    list += item;
}

// The file flow of a decoder, for the decoders that have one.
BufrFileDecoder* fileFlow(BufrDecoder* decoder)
{
    return dynamic_cast<BufrFileDecoder*>(decoder);
}

} // namespace

BufrDecoderList::BufrDecoderList() : _ingestHeldElsewhere(false) {}

BufrDecoderList::~BufrDecoderList()
{
    for (int i = 0; i < _entries.length(); ++i) {
        DecoderObjectInfo& info = _entries[i];
        delete info.decoder;
        info.decoder = nullptr;
        if (info.compiled)
            regfree(&info.regex);
        info.compiled = false;
    }
}

bool BufrDecoderList::setFactory(const char* key, DecoderFactory factory)
{
    for (DecoderKind& kind : decoderKinds) {
        if (std::strcmp(kind.key, key) == 0) {
            kind.factory = factory;
            return true;
        }
    }
    return false;
}

TextString BufrDecoderList::keys()
{
    TextString text;
    for (const DecoderKind& kind : decoderKinds) {
        if (kind.factory)
            appendJoined(text, ", ", kind.key);
    }
    return text;
}

bool BufrDecoderList::createDecoders(TextString& name)
{
    name.toLower();
    for (const DecoderKind& kind : decoderKinds) {
        int at = 0;
        if (name.length() == 0 || !name.indexOfString(kind.key, at))
            continue;
        BufrDecoder* decoder = makeDecoder(kind);
        if (!decoder)
            continue;
        const BufrFileDecoder* flow = fileFlow(decoder);
        if (flow && flow->ingestHeldElsewhere()) {
            delete decoder;
            _ingestHeldElsewhere = true;
            return false;
        }
        DecoderObjectInfo info;
        info.decoder = decoder;
        info.pattern = decoder->getBufrPattern();
        compilePattern(info, kind.key);
        _entries.append(info);
    }
    return _entries.length() > 0;
}

TextString BufrDecoderList::dataRequestPattern()
{
    const SeqOf<DecoderObjectInfo>& entries = _entries;
    TextString pattern;
    for (int i = 0; i < entries.length(); ++i) {
        const DecoderObjectInfo& info = entries[i];
        if (info.compiled)
            appendJoined(pattern, "|", info.pattern);
    }
    return pattern;
}

int BufrDecoderList::minTimeout()
{
    if (_entries.length() == 0)
        return 0;
    int timeout = _entries[0].decoder->getTimeout();
    for (int i = 1; i < _entries.length(); ++i) {
        const int t = _entries[i].decoder->getTimeout();
        if (t < timeout)
            timeout = t;
    }
    return timeout;
}

BufrDecoderList::DecoderObjectInfo* BufrDecoderList::findDecoder(const TextString& id)
{
    for (int i = 0; i < _entries.length(); ++i) {
        DecoderObjectInfo& info = _entries[i];
        regmatch_t match[1];
        if (info.compiled && regexec(&info.regex, id.c_str(), 1, match, 0) == 0)
            return &info;
    }
    return nullptr;
}

BufrDecoderList::DecoderObjectInfo* BufrDecoderList::entry(int index)
{
    if (index < 0 || index >= _entries.length())
        return nullptr;
    return &_entries[index];
}

void BufrDecoderList::processAllDirectories()
{
    for (int i = 0; i < _entries.length(); ++i)
        processDirectory(_entries[i].decoder);
}

bool BufrDecoderList::needsRetry()
{
    for (int i = 0; i < _entries.length(); ++i) {
        const BufrFileDecoder* flow = fileFlow(_entries[i].decoder);
        if (flow && flow->needsRetry())
            return true;
    }
    return false;
}

void BufrDecoderList::retryPasses()
{
    for (int i = 0; i < _entries.length(); ++i) {
        const BufrFileDecoder* flow = fileFlow(_entries[i].decoder);
        if (flow && flow->needsRetry())
            processDirectory(_entries[i].decoder);
    }
}

void BufrDecoderList::processDirectory(BufrDecoder* decoder)
{
    if (!decoder)
        return;
    try {
        decoder->processBufrDirectory();
    } catch (const std::exception& e) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoderList")
            << "The directory pass of the " << decoder->getDataTypeName()
            << " decoder ended early: " << e.what() << std::endl;
    }
}
