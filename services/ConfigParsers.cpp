#include "ConfigParsers.h"

#include "LogStream.h"
#include "LogText.h"

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ConfigParsers {

namespace {

const char* skipSpace(const char* p)
{
    while (isspace(static_cast<unsigned char>(*p)))
        ++p;
    return p;
}

// "(x,y)" with the parentheses optional, each member read by parse.
template <class T, class Parse>
bool parseCoord(const char* text, CartCoord2D<T>& result, const char*& rest, Parse parse)
{
    const char* p = skipSpace(text);
    const bool parenthesised = *p == '(';
    if (parenthesised)
        ++p;
    T x{};
    T y{};
    if (!parse(p, x, p))
        return false;
    p = skipSpace(p);
    if (*p != ',')
        return false;
    if (!parse(p + 1, y, p))
        return false;
    if (parenthesised) {
        p = skipSpace(p);
        if (*p != ')')
            return false;
        ++p;
    }
    result = CartCoord2D<T>(x, y);
    rest = p;
    return true;
}

// Elements read by parse, separated by ','; the list ends at the end of the
// text (or a newline), also right after a ','.
template <class T, class Parse>
bool parseSeq(const char* text, SeqOf<T>& result, const char*& rest, Parse parse)
{
    const char* p = skipSpace(text);
    SeqOf<T> elements;
    for (;;) {
        T element{};
        if (!parse(p, element, p))
            return false;
        elements.append(element);
        p = skipSpace(p);
        if (*p == '\0' || *p == '\n')
            break;
        if (*p != ',')
            return false;
        ++p;
        if (*p == '\0')
            break;
    }
    result = elements;
    rest = p;
    return true;
}

} // namespace

bool parseInt(const char* text, int& result, const char*& rest)
{
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 0);
    if (end == text)
        return false;
    // The value is 32 bits wide whatever the width of long.
    if (errno == ERANGE || v > INT32_MAX || v < INT32_MIN) {
        long clamped = v > 0 ? INT32_MAX : INT32_MIN;
        QEV_LOG(LogStream::PROBLEM, "Config")
            << "int value " << LogText(text, static_cast<size_t>(end - text))
            << " out of range; " << clamped << " used" << std::endl;
        v = clamped;
    }
    result = static_cast<int>(v);
    rest = end;
    return true;
}

bool parseFloat(const char* text, float& result, const char*& rest)
{
    char* end = nullptr;
    double v = strtod(text, &end);
    if (end == text)
        return false;
    if (v > FLT_MAX)
        result = HUGE_VALF;
    else if (v < -FLT_MAX)
        result = -HUGE_VALF;
    else
        result = static_cast<float>(v);
    rest = end;
    return true;
}

bool parseTextString(const char* text, TextString& result, const char*& rest)
{
    const char* p = skipSpace(text);
    if (*p == '"') {
        const char* close = strchr(p + 1, '"');
        if (!close)
            return false;
        result = TextString(p + 1, static_cast<int>(close - p - 1));
        rest = close + 1;
        return true;
    }
    size_t n = strcspn(text, ",)\n");
    result = TextString(text, static_cast<int>(n));
    rest = text + n;
    return true;
}

bool parseCartCoord2DFloat(const char* text, CartCoord2D<float>& result, const char*& rest)
{
    return parseCoord(text, result, rest, parseFloat);
}

bool parseCartCoord2DInt(const char* text, CartCoord2D<int>& result, const char*& rest)
{
    return parseCoord(text, result, rest, parseInt);
}

bool parseCartDomain2DFloat(const char* text, CartDomain2D<float>& result, const char*& rest)
{
    CartCoord2D<float> origin;
    CartCoord2D<float> extent;
    const char* p = text;
    if (!parseCartCoord2DFloat(p, origin, p))
        return false;
    p = skipSpace(p);
    if (*p != ',')
        return false;
    if (!parseCartCoord2DFloat(p + 1, extent, p))
        return false;
    result = CartDomain2D<float>(origin, extent);
    rest = p;
    return true;
}

bool parseSeqOfInt(const char* text, SeqOf<int>& result, const char*& rest)
{
    return parseSeq(text, result, rest, parseInt);
}

bool parseSeqOfFloat(const char* text, SeqOf<float>& result, const char*& rest)
{
    return parseSeq(text, result, rest, parseFloat);
}

bool parseSeqOfTextString(const char* text, SeqOf<TextString>& result, const char*& rest)
{
    return parseSeq(text, result, rest, parseTextString);
}

bool parseSeqOfCartCoord2DFloat(const char* text, SeqOf<CartCoord2D<float> >& result,
                                const char*& rest)
{
    return parseSeq(text, result, rest, parseCartCoord2DFloat);
}

} // namespace ConfigParsers
