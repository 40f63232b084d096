#include "serializeQuantize.h"

#include <rpc/types.h>
#include <rpc/xdr.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "AbsTime.h"
#include "DataTime.h"
#include "LogStream.h"
#include "TextString.h"
#include "TimeRange.h"

namespace {

const char* const sourceFile = "serializeQuantize";

// The largest stream an XDR memory stream takes.
const size_t streamLimit = 0x7ffffffc;

void logBug(const char* text)
{
    QEV_LOG(LogStream::BUG, sourceFile) << text << std::endl;
}

void logBug(const char* text, size_t number)
{
    QEV_LOG(LogStream::BUG, sourceFile) << text << number << std::endl;
}

// The bytes from position to end; none when end is not behind position.
size_t remaining(const char* position, const char* end)
{
    return end > position ? static_cast<size_t>(end - position) : 0;
}

// n rounded up to whole XDR units of 4 bytes.
size_t padded(size_t n)
{
    return (n + 3) & ~size_t(3);
}

// Runs one XDR filter over a memory stream of size bytes at position; used
// is set to the bytes the stream went over.
template <class Filter>
bool runStream(char* position, size_t size, xdr_op op, Filter filter, u_int& used)
{
    XDR xdrs;
    xdrmem_create(&xdrs, position, static_cast<u_int>(std::min(size, streamLimit)), op);
    const bool ok = filter(&xdrs);
    used = xdr_getpos(&xdrs);
    XDR_DESTROY(&xdrs);
    return ok;
}

// The wire word of a scalar.  A value that does not fit its 4 bytes is
// refused (false).
template <class T>
bool toWire(const T& value, T& wire)
{
    wire = value;
    return true;
}
bool toWire(const long& value, int& wire)
{
    if (value < INT32_MIN || value > INT32_MAX)
        return false;
    wire = static_cast<int>(value);
    return true;
}
bool toWire(const unsigned long& value, u_int& wire)
{
    if (value > UINT32_MAX)
        return false;
    wire = static_cast<u_int>(value);
    return true;
}
bool toWire(const short& value, int& wire)
{
    wire = value;
    return true;
}
bool toWire(const bool& value, int& wire)
{
    wire = value ? 1 : 0;
    return true;
}

// Writes one scalar in its wire type W; on failure logs failText and writes
// nothing more than the stream took.
template <class T, class W>
char* encodeScalar(const T& value, char* position, bool_t (*filter)(XDR*, W*),
                   const char* failText)
{
    W wire{};
    u_int used = 0;
    const size_t size = sizeof(W) <= 4 ? 4 : 8;
    if (!toWire(value, wire) ||
        !runStream(position, size, XDR_ENCODE, [&](XDR* x) { return filter(x, &wire); }, used)) {
        logBug(failText);
    }
    return position + used;
}

// The bytes encodeScalar writes for the value, found by encoding it into a
// scratch buffer (0 for a value that cannot be written).
template <class T, class W>
int scalarLength(const T& value, bool_t (*filter)(XDR*, W*), const char* failText)
{
    char scratch[8];
    return static_cast<int>(encodeScalar(value, scratch, filter, failText) - scratch);
}

// Reads one scalar in its wire type W within [position, end); widens or
// cuts it to T.  Null (logged) when the bytes are not there.
template <class T, class W>
char* decodeScalar(T& value, char* position, const char* end, bool_t (*filter)(XDR*, W*),
                   const char* failText)
{
    if (!position)
        return nullptr;
    W wire{};
    u_int used = 0;
    if (!runStream(position, remaining(position, end), XDR_DECODE,
                   [&](XDR* x) { return filter(x, &wire); }, used)) {
        logBug(failText);
        return nullptr;
    }
    value = static_cast<T>(wire);
    return position + used;
}

// The bytes an XDR string or opaque of n bytes takes after its leading
// count: its own count, the bytes, the padding.
size_t counted(size_t n)
{
    return 4 + padded(n);
}

// The decode buffer size of a string or byte array announced with n bytes:
// the size the format asks for, but never more than the bytes that remain.
size_t decodeLimit(size_t asked, const char* position, const char* end)
{
    return std::min(asked, remaining(position, end));
}

}  // namespace

// --- scalars ---------------------------------------------------------------

char* xdrSerialize(const int& v, char* p) { return encodeScalar(v, p, xdr_int, "xdr_int() serialize fail"); }
char* xdrSerialize(const unsigned int& v, char* p) { return encodeScalar(v, p, xdr_u_int, "xdr_u_int() serialize fail"); }
char* xdrSerialize(const long& v, char* p) { return encodeScalar(v, p, xdr_int, "xdr_long() serialize fail"); }
char* xdrSerialize(const unsigned long& v, char* p) { return encodeScalar(v, p, xdr_u_int, "xdr_u_long() serialize fail"); }
char* xdrSerialize(const unsigned char& v, char* p) { return encodeScalar(v, p, xdr_u_char, "xdr_u_char() serialize fail"); }
char* xdrSerialize(const char& v, char* p) { return encodeScalar(v, p, xdr_char, "xdr_char() serialize fail"); }
char* xdrSerialize(const unsigned short& v, char* p) { return encodeScalar(v, p, xdr_u_short, "xdr_u_short() serialize fail"); }
char* xdrSerialize(const short& v, char* p) { return encodeScalar(v, p, xdr_int, "xdr_int() (for short) serialize fail"); }
char* xdrSerialize(const double& v, char* p) { return encodeScalar(v, p, xdr_double, "xdr_double() serialize fail"); }
char* xdrSerialize(const float& v, char* p) { return encodeScalar(v, p, xdr_float, "xdr_float() serialize fail"); }
char* xdrSerialize(const bool& v, char* p) { return encodeScalar(v, p, xdr_int, "xdr_int() (for bool) serialize fail"); }

int xdrLength(const int& v) { return scalarLength(v, xdr_int, "xdr_int() length fail"); }
int xdrLength(const unsigned int& v) { return scalarLength(v, xdr_u_int, "xdr_int() length fail"); }
int xdrLength(const long& v) { return scalarLength(v, xdr_int, "xdr_long() length fail"); }
int xdrLength(const unsigned long& v) { return scalarLength(v, xdr_u_int, "xdr_u_long() length fail"); }
int xdrLength(const unsigned char& v) { return scalarLength(v, xdr_u_char, "xdr_u_char() length fail"); }
int xdrLength(const char& v) { return scalarLength(v, xdr_char, "xdr_char() length fail"); }
int xdrLength(const unsigned short& v) { return scalarLength(v, xdr_u_short, "xdr_u_short() length fail"); }
int xdrLength(const short& v) { return scalarLength(v, xdr_int, "xdr_int() (for short) length fail"); }
int xdrLength(const double& v) { return scalarLength(v, xdr_double, "xdr_double() length fail"); }
int xdrLength(const float& v) { return scalarLength(v, xdr_float, "xdr_float() length fail"); }
int xdrLength(const bool& v) { return scalarLength(v, xdr_int, "xdr_int() (for bool) length fail"); }

char* xdrQuantize(int& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_int, "xdr_int() quantize fail"); }
char* xdrQuantize(unsigned int& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_u_int, "xdr_u_int() quantize fail"); }
char* xdrQuantize(long& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_int, "xdr_long() quantize fail"); }
char* xdrQuantize(unsigned long& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_u_int, "xdr_u_long() quantize fail"); }
char* xdrQuantize(unsigned char& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_u_char, "xdr_u_char() quantize fail"); }
char* xdrQuantize(char& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_char, "xdr_char() quantize fail"); }
char* xdrQuantize(unsigned short& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_u_short, "xdr_u_short() quantize fail"); }
char* xdrQuantize(short& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_int, "xdr_short() quantize fail"); }
char* xdrQuantize(double& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_double, "xdr_double() quantize fail"); }
char* xdrQuantize(float& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_float, "xdr_float() quantize fail"); }
char* xdrQuantize(bool& v, char* p, const char* e) { return decodeScalar(v, p, e, xdr_int, "xdr_int() (for bool) quantize fail"); }

// --- times -----------------------------------------------------------------

char* xdrSerialize(const AbsTime& value, char* position)
{
    return xdrSerialize(static_cast<long>(value.seconds()), position);
}

int xdrLength(const AbsTime& value)
{
    return xdrLength(static_cast<long>(value.seconds()));
}

char* xdrQuantize(AbsTime& value, char* position, const char* end)
{
    long seconds = 0;
    char* next = xdrQuantize(seconds, position, end);
    if (next)
        value = AbsTime(static_cast<int32_t>(seconds));
    return next;
}

char* xdrSerialize(const TimeRange& value, char* position)
{
    return xdrSerializeAll(position, value.valid(), value.start(), value.end());
}

int xdrLength(const TimeRange& value)
{
    return xdrLengthAll(value.valid(), value.start(), value.end());
}

char* xdrQuantize(TimeRange& value, char* position, const char* end)
{
    bool valid = false;
    AbsTime start, finish;
    char* next = xdrQuantizeAll(position, end, valid, start, finish);
    if (next)
        value = valid ? TimeRange(start, finish) : TimeRange();
    return next;
}

// --- strings and byte arrays -----------------------------------------------

char* xdrSerialize(const TextString& value, char* position)
{
    const u_int n = static_cast<u_int>(std::strlen(value.c_str()));
    char* next = xdrSerialize(n, position);
    char* text = const_cast<char*>(value.c_str());
    u_int used = 0;
    if (!runStream(next, counted(n), XDR_ENCODE,
                   [&](XDR* x) { return xdr_string(x, &text, u_int(streamLimit)); }, used))
        logBug("xdr_string() serialize failed");
    return next + used;
}

int xdrLength(const TextString& value)
{
    return static_cast<int>(4 + counted(std::strlen(value.c_str())));
}

char* xdrQuantize(TextString& value, char* position, const char* end)
{
    unsigned int n = 0;
    char* next = xdrQuantize(n, position, end);
    if (!next)
        return nullptr;
    const size_t maxLength = decodeLimit(std::max<size_t>(32, 4 * size_t(n) + 4), next, end);
    // One byte more than the maximum: the decoder writes the terminator
    // behind a string of exactly that length.
    std::vector<char> buffer(maxLength + 1, '\0');
    char* text = buffer.data();
    u_int used = 0;
    if (n > remaining(next, end) ||
        !runStream(next, remaining(next, end), XDR_DECODE,
                   [&](XDR* x) { return xdr_string(x, &text, u_int(maxLength)); }, used)) {
        logBug("xdr_string() quantize failed with maxlen = ", maxLength);
        value = TextString();
        return nullptr;
    }
    value = TextString(text);
    return next + used;
}

char* xdrSerialize(const SeqOf<char>& value, char* position)
{
    u_int n = static_cast<u_int>(value.length());
    char* next = xdrSerialize(n, position);
    char* bytes = const_cast<char*>(value.elements());
    u_int used = 0;
    if (!runStream(next, counted(n), XDR_ENCODE,
                   [&](XDR* x) { return xdr_bytes(x, &bytes, &n, u_int(streamLimit)); }, used))
        logBug("xdr_bytes() serialize failed");
    return next + used;
}

int xdrLength(const SeqOf<char>& value)
{
    return static_cast<int>(4 + counted(static_cast<size_t>(value.length())));
}

char* xdrQuantize(SeqOf<char>& value, char* position, const char* end)
{
    unsigned int n = 0;
    char* next = xdrQuantize(n, position, end);
    if (!next)
        return nullptr;
    const size_t maxLength = decodeLimit(std::max<size_t>(32, 4 * size_t(n)), next, end);
    std::vector<char> buffer(std::max<size_t>(maxLength, 1));
    char* bytes = buffer.data();
    u_int count = 0;
    u_int used = 0;
    if (n > remaining(next, end) ||
        !runStream(next, remaining(next, end), XDR_DECODE,
                   [&](XDR* x) { return xdr_bytes(x, &bytes, &count, u_int(maxLength)); },
                   used)) {
        logBug("xdr_bytes() quantize failed with maxlen = ", maxLength);
        value = SeqOf<char>();
        return nullptr;
    }
    value = SeqOf<char>(bytes, static_cast<int>(count));
    return next + used;
}

char* xdrSerialize(const SeqOf<unsigned char>& value, char* position)
{
    char* next = xdrSerialize(value.length(), position);
    for (int i = 0; i < value.length(); ++i)
        next = xdrSerialize(value[i], next);
    return next;
}

int xdrLength(const SeqOf<unsigned char>& value)
{
    int length = xdrLength(value.length());
    for (int i = 0; i < value.length(); ++i)
        length += xdrLength(value[i]);
    return length;
}

char* xdrQuantize(SeqOf<unsigned char>& value, char* position, const char* end)
{
    int count = 0;
    char* next = xdrQuantize(count, position, end);
    if (!next)
        return nullptr;
    // Each element takes 4 bytes: a count that the rest of the buffer cannot
    // hold is refused before anything is allocated.
    if (count > 0 && size_t(count) > remaining(next, end) / 4) {
        logBug("xdr_u_char() quantize fail");
        value = SeqOf<unsigned char>();
        return nullptr;
    }
    // A negative count is logged by the sequence and gives an empty one.
    value.setLength(count);
    if (value.length() == 0)
        return next;
    unsigned char* elements = value.elements();
    for (int i = 0; next && i < value.length(); ++i)
        next = xdrQuantize(elements[i], next, end);
    return next;
}

// --- data times ------------------------------------------------------------

namespace {

// Calls field with each value of the flags form in wire order: the flags
// word, the reference time, then the fields the flags say are given.
template <class Field>
void forEachWireField(const DataTime& value, Field field)
{
    const uint32_t flags = value.flags();
    field(static_cast<unsigned int>(flags));
    field(value.refTime());
    if (flags & DataTime::FCST_GIVEN)
        field(value.fcstPeriod());
    if (flags & DataTime::VALID_GIVEN)
        field(value.validPeriod());
    if (flags & DataTime::SECOND_GIVEN)
        field(value.secondTime());
    if (flags & DataTime::KEY_GIVEN)
        field(value.key());
}

}  // namespace

char* xdrSerialize(const DataTime& value, char* position)
{
    char* next = position;
    forEachWireField(value, [&next](const auto& field) { next = xdrSerialize(field, next); });
    return next;
}

int xdrLength(const DataTime& value)
{
    int length = 0;
    forEachWireField(value, [&length](const auto& field) { length += xdrLength(field); });
    return length;
}

char* xdrQuantize(DataTime& value, char* position, const char* end)
{
    unsigned int word = 0;
    char* next = xdrQuantize(word, position, end);
    if (!next)
        return nullptr;

    if (!(word & 0x2F00) || word > 0x3FFF) {
        // The older form: the word is the reference time, and the forecast
        // period and the valid period follow.
        const AbsTime refTime(static_cast<int32_t>(word));
        long fcstPeriod = 0;
        TimeRange validPeriod;
        next = xdrQuantizeAll(next, end, fcstPeriod, validPeriod);
        if (next)
            value = DataTime(refTime, fcstPeriod, validPeriod, refTime, 0,
                             DataTime::FCST_GIVEN | DataTime::VALID_GIVEN);
        return next;
    }

    const uint32_t flags = word;
    AbsTime refTime;
    next = xdrQuantize(refTime, next, end);
    if (!next)
        return nullptr;
    if (flags == DataTime::DEFAULT_FLAGS) {
        value = DataTime(refTime);
        return next;
    }
    long fcstPeriod = 0;
    TimeRange validPeriod;
    AbsTime secondTime = refTime;
    unsigned long key = 0;
    if (flags & DataTime::FCST_GIVEN)
        next = xdrQuantize(fcstPeriod, next, end);
    if (flags & DataTime::VALID_GIVEN)
        next = xdrQuantize(validPeriod, next, end);
    if (flags & DataTime::SECOND_GIVEN)
        next = xdrQuantize(secondTime, next, end);
    if (flags & DataTime::KEY_GIVEN)
        next = xdrQuantize(key, next, end);
    if (!next)
        return nullptr;
    if (!(flags & DataTime::VALID_GIVEN)) {
        const AbsTime& base = (flags & DataTime::VALID_FOLLOWS_SECOND) ? secondTime : refTime;
        const AbsTime at = AbsTime::fromTimeT(time_t(base.seconds()) + fcstPeriod);
        validPeriod = TimeRange(at, at);
    }
    value = DataTime(refTime, fcstPeriod, validPeriod, secondTime, key, flags);
    return next;
}
