#include "BufrDecoder.h"

#include "LineFile.h"
#include "LogStream.h"
#include "StaticBufrInfo.h"
#include "StringTokenizer.h"
#include "TableBEntry.h"

#include <netcdfcpp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

const float BufrDecoder::MISSING_VALUE = -99999.0f;
const float BufrDecoder::NOT_IN_TABLE_B = 99999.0f;
const float BufrDecoder::CHARACTER_VALUE = -99999.9f;

namespace {

bool tablesLoadAttempted = false;
bool tablesLoadSucceeded = false;

// What one pattern file gave, kept for the process: the joined pattern and,
// line by line, the prefix and its designator expression, so that a later
// decoder reading the same file gets its own prefix set and designator
// dictionary filled without reading the file again.
struct CachedPattern {
    TextString pattern;
    SeqOf<TextString> prefixes;
    SeqOf<TextString> designators;
};

Dict<TextString, CachedPattern>& patternCache()
{
    static Dict<TextString, CachedPattern> cache;
    return cache;
}

// The first n (1..32) bits at bit `offset` (0..7) of p; reads exactly the
// octets that hold them.
uint32_t extractBits(const unsigned char* p, int offset, int n)
{
    uint64_t v = p[0] & (0xFFu >> offset);
    int have = 8 - offset;
    while (have < n) {
        v = (v << 8) | *++p;
        have += 8;
    }
    return static_cast<uint32_t>(v >> (have - n));
}

int toSigned(uint64_t bits, int n)
{
    if (n < 32 && ((bits >> (n - 1)) & 1))
        return static_cast<int>(static_cast<int64_t>(bits) - (int64_t(1) << n));
    return static_cast<int>(static_cast<uint32_t>(bits));
}

// Character data as the decoders want it: all octets 0xFF is missing text,
// a NUL ends the text, and with cutBlank so does the first blank.
TextString readableText(const TextString& raw, bool cutBlank)
{
    bool allOnes = raw.length() > 0;
    for (int i = 0; allOnes && i < raw.length(); ++i)
        allOnes = static_cast<unsigned char>(raw[i]) == 0xFF;
    if (allOnes)
        return TextString();
    TextString text = static_cast<int>(std::strlen(raw.c_str())) < raw.length()
                          ? TextString(raw.c_str())
                          : raw;
    if (cutBlank)
        BufrDecoder::cutAtBlank(text);
    return text;
}

} // namespace

BufrDecoder::BufrDecoder()
    : _obTime(0),
      _dataCategory(0),
      _numElements(0),
      _collectingRepl(false),
      _nestedRepl(false),
      _signifyWidthActive(false),
      _assocFieldActive(false),
      _assocFieldWidth(0),
      _dataCopy(nullptr),
      _dataPtr(nullptr),
      _descPtr(nullptr),
      _optionalSection(false),
      _compressed(false),
      _bitOffset(0),
      _r0(0),
      _subsets(0),
      _decodedOk(false),
      _section3Length(0),
      _dataEnd(nullptr),
      _readFailed(false)
{
    if (!tablesLoadAttempted) {
        tablesLoadSucceeded = StaticBufrInfo::instance()->loadTables();
        tablesLoadAttempted = true;
    }
}

BufrDecoder::~BufrDecoder()
{
    for (int i = 0; i < _designatorDict.count(); ++i) {
        void* compiled = nullptr;
        if (_designatorDict.find(_designatorDict.key(i), nullptr, &compiled) && compiled) {
            regfree(static_cast<regex_t*>(compiled));
            delete static_cast<regex_t*>(compiled);
        }
    }
    delete[] _dataCopy;
}

bool BufrDecoder::tablesLoaded()
{
    return tablesLoadSucceeded;
}

bool BufrDecoder::preProcess()
{
    return true;
}

int BufrDecoder::write2NetcdfFile()
{
    return 1;
}

bool BufrDecoder::sendNotification()
{
    return true;
}

// Placeholder: message decoding (sections 0 to 5, descriptor expansion and
// the data-section walkers) is built on the readers below and replaces this
// body.  Until then no message decodes.
bool BufrDecoder::decode(const void*, unsigned size)
{
    QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
        << "BufrDecoder::decode() not available; message of " << size
        << " bytes not decoded." << std::endl;
    return false;
}

SeqOf<BufrValues>& BufrDecoder::getDecodedValues()
{
    if (!_decodedOk) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder") << "BUFR data not decoded." << std::endl;
        _decodedValues = SeqOf<BufrValues>();
    }
    return _decodedValues;
}

// ---------------------------------------------------------------------------
// Pattern file and regional designators

// A count line of three free words and the number of pattern lines, then one
// line per product family: the file-name pattern word from column 1, free
// text, and from column 11 an extended regular expression for the two
// designator characters that follow the four-letter prefix in a file name.
TextString BufrDecoder::getBufrPattern()
{
    TextString fileName = getPatternFileName();
    CachedPattern cached;
    if (patternCache().find(fileName, nullptr, &cached)) {
        const SeqOf<TextString>& prefixes = cached.prefixes;
        const SeqOf<TextString>& designators = cached.designators;
        for (int i = 0; i < prefixes.length(); ++i) {
            _prefixSet.insert(prefixes[i]);
            initDesignators(prefixes[i], designators[i]);
        }
        return cached.pattern;
    }

    const char* home = std::getenv("QEV_HOME");
    TextString path = TextString(home ? home : "") + "/data/" + fileName;
    LineFile file(path);
    if (!file.isOpen()) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Unable to get bufr pattern from " << path << std::endl;
        return TextString();
    }
    QEV_LOG(LogStream::VERBOSE, "BufrDecoder") << "Reading bufr patterns from " << path
                                               << std::endl;
    TextString line;
    int count = 0;
    if (!file.readLine(line, false) || std::sscanf(line.c_str(), "%*s%*s%*s%d", &count) != 1 ||
        count < 0) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "No pattern count in the first line of " << path << std::endl;
        count = 0;
    }

    TextString pattern;
    for (int i = 0; i < count && file.readLine(line, false); ++i) {
        int blank = 0;
        TextString word = line.indexOfChar(' ', blank) ? line.subString(0, blank) : line;
        if (word.length() == 0)
            continue;    // an empty alternative would match every product
        TextString prefix = upperCaseLetters(word);
        TextString designators = line.length() > 10 ? line.subString(10, line.length() - 10)
                                                    : TextString();
        _prefixSet.insert(prefix);
        if (pattern.length() > 0)
            pattern += "|";
        pattern += word;
        initDesignators(prefix, designators);
        cached.prefixes.append(prefix);
        cached.designators.append(designators);
    }
    if (cached.prefixes.length() > 0) {
        cached.pattern = pattern;
        patternCache().insert(fileName, cached);
    }
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "BUFR Pattern [" << pattern << "]" << std::endl;
    return pattern;
}

void BufrDecoder::initDesignators(const TextString& prefix, const TextString& designatorPattern)
{
    if (_designatorDict.find(prefix))
        return;
    QEV_LOG(LogStream::DEBUG, "BufrDecoder")
        << "BufrDecoder:dataFormatCode = " << designatorPattern << std::endl;
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "BufrDecoder:designator     = " << prefix
                                             << std::endl;
    // Compiled in place: a regex_t is never copied once compiled.
    regex_t* compiled = new (std::nothrow) regex_t;
    if (!compiled) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "problem in RegularExp(" << prefix << " ) initialization." << std::endl;
        return;
    }
    if (regcomp(compiled, designatorPattern.c_str(), REG_EXTENDED) != 0) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Error in regional designator pattern: " << designatorPattern << " for WMO code "
            << prefix << " not stored in dictionary." << std::endl;
        delete compiled;
        return;
    }
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "Adding " << prefix << " to dictionary."
                                             << std::endl;
    _designatorDict.insert(prefix, compiled);
}

const regex_t* BufrDecoder::designatorPattern(const TextString& prefix) const
{
    void* compiled = nullptr;
    return _designatorDict.find(prefix, nullptr, &compiled) ? static_cast<regex_t*>(compiled)
                                                            : nullptr;
}

bool BufrDecoder::matchPattern(const TextString& text, const regex_t* pattern)
{
    return pattern && regexec(pattern, text.c_str(), 0, nullptr, 0) == 0;
}

TextString BufrDecoder::upperCaseLetters(const TextString& text)
{
    std::string letters;
    for (const char* p = text.c_str(); *p; ++p) {
        if (*p >= 'A' && *p <= 'Z')
            letters += *p;
    }
    return TextString(letters.c_str());
}

// ---------------------------------------------------------------------------
// netCDF template

Dict<TextString, TextString> BufrDecoder::readTemplateDict(const TextString& templatePath,
                                                           const TextString& attributeName)
{
    Dict<TextString, TextString> dict;
    NcError errorMode(NcError::verbose_nonfatal);
    NcFile file(templatePath.c_str(), NcFile::ReadOnly);
    if (!file.is_valid()) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Unable to open " << templatePath << ", " << nc_strerror(errorMode.get_err())
            << std::endl;
        return dict;
    }
    for (int i = 0; i < file.num_vars(); ++i) {
        NcVar* variable = file.get_var(i);
        SeqOf<TextString> tokens;
        if (!variable || !variable->is_valid() ||
            !findAttributeTokens(variable, attributeName, tokens))
            continue;
        const SeqOf<TextString>& names = tokens;
        for (int t = 0; t < names.length(); ++t)
            dict.insert(names[t], TextString(variable->name()));
    }
    file.close();
    return dict;
}

bool BufrDecoder::findAttributeTokens(NcVar* variable, const TextString& attributeName,
                                      SeqOf<TextString>& tokens)
{
    for (int i = 0; i < variable->num_atts(); ++i) {
        NcAtt* attribute = variable->get_att(i);
        if (!attribute)
            continue;
        if (!attribute->is_valid()) {
            delete attribute;
            continue;
        }
        QEV_LOG(LogStream::DEBUG, "BufrDecoder")
            << "Searching var:" << variable->name() << ", attr: " << attribute->name() << " for "
            << attributeName << std::endl;
        bool wanted = attributeName == TextString(attribute->name());
        if (wanted)
            tokens = getAttributeTokens(attribute);
        delete attribute;
        if (wanted && tokens.length() > 0) {
            if (!LogStream::startMessage(LogStream::instance(), LogStream::DEBUG, "BufrDecoder",
                                         __LINE__, false)) {
                const SeqOf<TextString>& found = tokens;
                LogStream::instance() << "Found";
                for (int t = 0; t < found.length(); ++t)
                    LogStream::instance() << " " << found[t];
                LogStream::instance() << std::endl;
                LogStream::endMessage(LogStream::instance());
            }
            return true;
        }
    }
    return false;
}

SeqOf<TextString> BufrDecoder::getAttributeTokens(NcAtt* attribute)
{
    NcValues* values = attribute->values();
    if (!values)
        return SeqOf<TextString>();
    QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "ncValue = " << *values << std::endl;
    SeqOf<TextString> tokens = getTokens(values);
    delete values;
    return tokens;
}

// "PRESSURE|HEIGHT " names two elements; trailing blanks are not part of a
// name, and empty fields name nothing.
SeqOf<TextString> BufrDecoder::getTokens(const NcValues* values)
{
    SeqOf<TextString> tokens;
    if (!values)
        return tokens;
    char* chars = values->as_string(0);
    TextString text(chars ? chars : "");
    delete[] chars;
    QEV_LOG(LogStream::EVENT, "BufrDecoder") << "BufrDecoder::getTokens()" << text << std::endl;
    StringTokenizer tokenizer(text, "|", false);
    for (TextString token = tokenizer.nextToken(); token.length() > 0;
         token = tokenizer.nextToken()) {
        token.stripTrailingBlanks();
        if (token.length() > 0)
            tokens.append(token);
    }
    return tokens;
}

bool BufrDecoder::lookupElementName(int descriptor, TextString& variableName,
                                    const Dict<TextString, TextString>& templateDict)
{
    TableBEntry entry;
    TextString name;
    if (!StaticBufrInfo::instance()->getTableBEntry(descriptor, entry) ||
        !templateDict.find(entry.getDescription(), nullptr, &name))
        return false;
    variableName = name;
    return true;
}

bool BufrDecoder::printDict(const Dict<TextString, TextString>& templateDict)
{
    QEV_LOG(LogStream::VERBOSE, "BufrDecoder") << "BufrDecoder::printDict()" << std::endl;
    templateDict.sort();
    for (int i = 0; i < templateDict.count(); ++i) {
        QEV_LOG(LogStream::VERBOSE, "BufrDecoder")
            << i << ") Attr: \"" << templateDict.key(i) << "\"; "
            << "Netcdf VarName: " << templateDict.value(i) << std::endl;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The read position

void BufrDecoder::setReadRegion(const unsigned char* data, unsigned octets)
{
    _dataPtr = data;
    _dataEnd = data ? data + octets : nullptr;
    _bitOffset = 0;
    _readFailed = false;
}

long BufrDecoder::bitsLeft() const
{
    if (!_dataPtr || !_dataEnd || _dataPtr > _dataEnd)
        return 0;
    long bits = static_cast<long>(_dataEnd - _dataPtr) * 8 - _bitOffset;
    return bits > 0 ? bits : 0;
}

bool BufrDecoder::checkRead(long bits, const char* what)
{
    if (bits >= 0 && bits <= bitsLeft())
        return true;
    if (!_readFailed) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << what << " of " << bits << " bits with " << bitsLeft()
            << " bits left in the data section" << std::endl;
    }
    _readFailed = true;
    return false;
}

bool BufrDecoder::advanceBits(int n)
{
    if (!checkRead(n, "Advance"))
        return false;
    int total = _bitOffset + n;
    _dataPtr += total / 8;
    _bitOffset = total % 8;
    return true;
}

bool BufrDecoder::advanceOctets(int n)
{
    if (!checkRead(8L * n, "Advance"))
        return false;
    _dataPtr += n;
    return true;
}

bool BufrDecoder::fieldFits(int n, int maxBits)
{
    if (n < 1 || n > maxBits) {
        if (!_readFailed) {
            QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
                << "Bit field width " << n << " cannot be read" << std::endl;
        }
        _readFailed = true;
        return false;
    }
    return checkRead(n, "Read");
}

uint64_t BufrDecoder::bitsAt(int n) const
{
    if (n <= 32)
        return extractBits(_dataPtr, _bitOffset, n);
    int high = n - 32;
    int next = _bitOffset + high;
    return (uint64_t(extractBits(_dataPtr, _bitOffset, high)) << 32) |
           extractBits(_dataPtr + next / 8, next % 8, 32);
}

// ---------------------------------------------------------------------------
// Bit fields

int BufrDecoder::getBits(int n)
{
    if (n == 0 || !fieldFits(n, 32))
        return 0;
    return static_cast<int>(static_cast<uint32_t>(bitsAt(n)));
}

int BufrDecoder::getSignedBits(int n)
{
    if (!fieldFits(n, 32))
        return 0;
    int value = toSigned(bitsAt(n), n);
    if (_bitOffset + n < 16 && _bitOffset + n != 8) {
        QEV_LOG(LogStream::DEBUG, "BufrDecoder") << "value after last bits = " << value
                                                 << std::endl;
    }
    return value;
}

int BufrDecoder::readSignedBits(int n)
{
    if (!fieldFits(n, 32))
        return 0;
    int value = getSignedBits(n);
    advanceBits(n);
    return value;
}

int BufrDecoder::getRefValue(int n)
{
    if (!fieldFits(n, 32))
        return 0;
    uint64_t bits = bitsAt(n);
    int magnitude = static_cast<int>(bits & ((uint64_t(1) << (n - 1)) - 1));
    int value = ((bits >> (n - 1)) & 1) ? -magnitude : magnitude;
    advanceBits(n);
    if (_compressed && fieldFits(NBINC, NBINC)) {
        int width = static_cast<int>(bitsAt(NBINC));
        advanceBits(NBINC);
        if (width != 0 && fieldFits(width, 32)) {
            value += static_cast<int>(bitsAt(width));
            advanceBits(width * (_subsets > 0 ? _subsets : 1));
        }
    }
    QEV_LOG(LogStream::DEBUG, "BufrDecoder")
        << "In getRefValue, on return, bit position = " << _bitOffset << std::endl;
    return value;
}

// ---------------------------------------------------------------------------
// Element values

bool BufrDecoder::isMissing(int descriptor, uint64_t raw, int width)
{
    if (width <= 0)
        return true;
    if ((descriptor / 1000) % 100 == 31)
        return false;
    uint64_t ones = width >= 64 ? ~uint64_t(0) : (uint64_t(1) << width) - 1;
    return (raw & ones) == ones;
}

float BufrDecoder::scaledValue(int64_t coded, int reference, int scale)
{
    return static_cast<float>(static_cast<double>(coded + reference) / std::pow(10.0, scale));
}

float BufrDecoder::getValue(int descriptor, TextString& charValue)
{
    charValue = TextString();
    SeqOf<int> info;
    if (!StaticBufrInfo::instance()->getTableBInfo(descriptor, info) || info.length() < 3) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Code " << descriptor << " does not exist in table B." << std::endl;
        return NOT_IN_TABLE_B;
    }
    const SeqOf<int>& coding = info;
    int scale = coding[0];
    int reference = coding[1];
    int width = coding[2];

    long tableWidth = 0;
    if (StaticBufrInfo::instance()->isCharacterElement(descriptor, tableWidth)) {
        float value = CHARACTER_VALUE;
        charValue = getCharacters(width, value);
        advanceOctets(width / 8);
        return value;
    }
    if (width == 0)
        return MISSING_VALUE;
    if (!fieldFits(width, 64))
        return MISSING_VALUE;
    uint64_t raw = bitsAt(width);
    float value = isMissing(descriptor, raw, width)
                      ? MISSING_VALUE
                      : scaledValue(static_cast<int64_t>(raw), reference, scale);
    advanceBits(width);
    return value;
}

TextString BufrDecoder::getCharacters(int widthBits, float& value)
{
    value = CHARACTER_VALUE;
    int count = widthBits / 8;
    if (count < 1 || !checkRead(8L * count, "Character read"))
        return TextString();
    return readableText(extractCharacters(_dataPtr, _bitOffset, count), true);
}

void BufrDecoder::getCharacterString(int& count, TextString& text)
{
    text = TextString();
    if (count < 1 || !checkRead(8L * count, "Character read"))
        return;
    text = readableText(extractCharacters(_dataPtr, _bitOffset, count), false);
}

// ---------------------------------------------------------------------------
// Text and descriptor helpers

TextString BufrDecoder::extractCharacters(const unsigned char* data, int bitOffset, int count)
{
    if (count < 1)
        return TextString();
    std::string chars(static_cast<size_t>(count), '\0');
    for (int i = 0; i < count; ++i) {
        chars[i] = static_cast<char>(
            bitOffset == 0 ? data[i]
                           : ((data[i] << bitOffset) | (data[i + 1] >> (8 - bitOffset))) & 0xFF);
    }
    return TextString(chars.data(), count);
}

void BufrDecoder::cutAtBlank(TextString& text)
{
    int blank = 0;
    if (text.indexOfChar(' ', blank))
        text = blank > 0 ? text.subString(0, blank) : TextString();
}

int BufrDecoder::splitDescriptor(int descriptor, int& x, int& y)
{
    x = (descriptor / 1000) % 100;
    y = descriptor % 1000;
    return descriptor / 100000;
}

bool BufrDecoder::isDelayedReplicator(int descriptor)
{
    int x = 0;
    int y = 0;
    splitDescriptor(descriptor, x, y);
    if (x != 31 || y >= 3)
        return false;
    QEV_LOG(LogStream::VERBOSE, "BufrDecoder")
        << "Descriptor [" << descriptor << "] is a delayed replicator." << std::endl;
    return true;
}

// ---------------------------------------------------------------------------
// Octets

unsigned char BufrDecoder::getOctet(const unsigned char* section, int i)
{
    return section[i];
}

int BufrDecoder::readBigEndian2(const unsigned char* p)
{
    return (p[0] << 8) | p[1];
}

int BufrDecoder::readBigEndian3(const unsigned char* p)
{
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

int BufrDecoder::readBigEndian4(const unsigned char* p)
{
    return static_cast<int>((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
                            (uint32_t(p[2]) << 8) | p[3]);
}

int BufrDecoder::readBigEndian6(const unsigned char* p)
{
    return readBigEndian4(p + 2);
}

int BufrDecoder::readSignedBigEndian2(const unsigned char* p)
{
    return static_cast<signed char>(p[0]) * 256 + p[1];
}

void BufrDecoder::writeBigEndian2(int value, unsigned char* p)
{
    p[0] = static_cast<unsigned char>((value >> 8) & 0xFF);
    p[1] = static_cast<unsigned char>(value & 0xFF);
}

void BufrDecoder::writeBigEndian4(int value, unsigned char* p)
{
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 3; i >= 0; --i, v >>= 8)
        p[i] = static_cast<unsigned char>(v & 0xFF);
}

double BufrDecoder::readNativeDouble(const unsigned char* p)
{
    double d = 0.0;
    std::memcpy(&d, p, sizeof d);
    return d;
}

unsigned char* BufrDecoder::copyOctets(const unsigned char* p, int n)
{
    if (n < 0)
        return nullptr;
    unsigned char* copy = new (std::nothrow) unsigned char[static_cast<size_t>(n) + 8]();
    if (copy)
        std::memcpy(copy, p, static_cast<size_t>(n) + 1);
    return copy;
}

float BufrDecoder::readHalfFloat(const unsigned char* p)
{
    int e = (p[0] & 0x7C) >> 2;
    int m = (p[0] & 3) * 256 + p[1];
    double v = e != 0 ? (1.0 + m / 1024.0) * std::ldexp(1.0, e - 16) : m * std::ldexp(1.0, -9);
    return static_cast<float>((p[0] & 0x80) ? -v : v);
}
