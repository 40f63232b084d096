#include "TextString.h"

#include "LogStream.h"

#include <cctype>
#include <cstring>
#include <iomanip>
#include <istream>
#include <ostream>
#include <vector>

// ---------------------------------------------------------------------------
// The representation

TextString::StringValue::StringValue(const char* text, unsigned n)
    : data(new char[n + 1]), length(n), capacity(n)
{
    strncpy(data, text, n);
    data[n] = '\0';
}

TextString::StringValue::StringValue(const StringValue& other)
    : RCObject(), data(new char[other.length + 1]), length(other.length), capacity(other.length)
{
    memcpy(data, other.data, other.length + 1);
}

TextString::StringValue::~StringValue()
{
    delete[] data;
}

void TextString::StringValue::init(const char* text, bool withRoom)
{
    delete[] data;
    length = static_cast<unsigned>(strlen(text));
    capacity = length;
    if (withRoom) {
        unsigned tenthMore = static_cast<unsigned>(static_cast<float>(length) * 1.1f);
        capacity = tenthMore > length + 10 ? tenthMore : length + 10;
    }
    data = new char[capacity + 1];
    memcpy(data, text, length + 1);
}

// ---------------------------------------------------------------------------
// Construction and assignment

const TextString& TextString::emptyString()
{
    static const TextString empty = [] {
        TextString t("", 0);
        t._value->makeImmortal();
        return t;
    }();
    return empty;
}

TextString::TextString() : _value(rcTake(emptyString()._value)) {}

TextString::TextString(const char* s)
    : _value(s && *s ? rcTake(new StringValue(s, false)) : rcTake(emptyString()._value))
{
}

TextString::TextString(const char* s, int n)
    : _value(s && n >= 0 ? rcTake(new StringValue(s, static_cast<unsigned>(n)))
                         : rcTake(emptyString()._value))
{
    // A negative length makes the empty text, never a buffer overrun.
    if (s && n < 0)
        checkIndex(n);
}

TextString::TextString(StringValue* value, Adopt) : _value(rcTake(value)) {}

TextString::TextString(const TextString& other) : _value(rcTake(other._value)) {}

TextString::~TextString()
{
    _value->removeReference();
}

TextString& TextString::operator=(const TextString& other)
{
    rcReplace(_value, other._value);
    return *this;
}

void TextString::assignChar(char c)
{
    const char text[2] = {c, '\0'};
    *this = TextString(text);
}

void TextString::replaceValue(StringValue* fresh)
{
    fresh->addReference();
    _value->removeReference();
    _value = fresh;
}

// Before a write: a shared text is copied (without spare room).
void TextString::makePrivate()
{
    if (_value->isShared())
        replaceValue(new StringValue(*_value));
}

// ---------------------------------------------------------------------------
// Comparison and output

bool operator==(const TextString& a, const TextString& b)
{
    return &a == &b || strcmp(a.c_str(), b.c_str()) == 0;
}

bool operator!=(const TextString& a, const TextString& b)
{
    return !(a == b);
}

// The first bytes decide, taken as signed chars; equal first bytes leave it
// to strcmp.
static int textOrder(const TextString& a, const TextString& b)
{
    signed char x = static_cast<signed char>(a.c_str()[0]);
    signed char y = static_cast<signed char>(b.c_str()[0]);
    if (x != y)
        return x - y;
    return strcmp(a.c_str(), b.c_str());
}

bool operator<(const TextString& a, const TextString& b)
{
    return textOrder(a, b) < 0;
}

bool operator>(const TextString& a, const TextString& b)
{
    return textOrder(a, b) > 0;
}

bool operator<=(const TextString& a, const TextString& b)
{
    return textOrder(a, b) <= 0;
}

bool operator>=(const TextString& a, const TextString& b)
{
    return textOrder(a, b) >= 0;
}

std::ostream& operator<<(std::ostream& out, const TextString& s)
{
    return out << s.c_str();
}

// ---------------------------------------------------------------------------
// Appending and inserting

// Puts n characters at position p of an unshared text that has room for them.
static void spliceInPlace(TextString::StringValue& v, unsigned p, const char* chars, unsigned n)
{
    memmove(v.data + p + n, v.data + p, v.length - p + 1);
    memmove(v.data + p, chars, n);
    v.length += n;
}

static bool fitsInPlace(const TextString::StringValue& v, unsigned extra)
{
    return !v.isShared() && v.length + extra <= v.capacity;
}

// The slow path: the joined text is built in a scratch buffer and becomes a
// new representation.
static TextString::StringValue* joined(const TextString::StringValue& v, unsigned p,
                                       const char* chars, unsigned n, bool withRoom)
{
    std::vector<char> scratch(v.length + n + 1);
    memcpy(scratch.data(), v.data, p);
    memcpy(scratch.data() + p, chars, n);
    memcpy(scratch.data() + p + n, v.data + p, v.length - p + 1);
    return new TextString::StringValue(scratch.data(), withRoom);
}

TextString& TextString::operator+=(const TextString& t)
{
    if (fitsInPlace(*_value, t._value->length))
        spliceInPlace(*_value, _value->length, t._value->data, t._value->length);
    else
        append(t, true);
    return *this;
}

TextString& TextString::operator+=(const char* s)
{
    if (!s)
        return *this;
    unsigned n = static_cast<unsigned>(strlen(s));
    if (fitsInPlace(*_value, n))
        spliceInPlace(*_value, _value->length, s, n);
    else
        replaceValue(joined(*_value, _value->length, s, n, true));
    return *this;
}

TextString& TextString::operator+=(char c)
{
    if (fitsInPlace(*_value, 1))
        spliceInPlace(*_value, _value->length, &c, 1);
    else
        appendChar(c, true);
    return *this;
}

void TextString::append(const TextString& t, bool withRoom)
{
    replaceValue(joined(*_value, _value->length, t._value->data, t._value->length, withRoom));
}

void TextString::appendChar(char c, bool withRoom)
{
    replaceValue(joined(*_value, _value->length, &c, 1, withRoom));
}

TextString operator+(const TextString& a, const TextString& b)
{
    TextString sum(a);
    sum += b;
    return sum;
}

unsigned TextString::clampPosition(int pos) const
{
    if (static_cast<unsigned>(pos) >= _value->length) {
        checkIndex(pos);
        return _value->length;
    }
    return static_cast<unsigned>(pos);
}

void TextString::insertChars(int pos, const char* chars, unsigned n, bool inPlaceAllowed)
{
    bool inPlace = inPlaceAllowed && fitsInPlace(*_value, n);
    unsigned p = clampPosition(pos);
    if (inPlace)
        spliceInPlace(*_value, p, chars, n);
    else
        replaceValue(joined(*_value, p, chars, n, true));
}

void TextString::insert(int pos, const TextString& t)
{
    // Inserting a string into itself reads its text while it moves: built
    // in a scratch buffer instead.
    insertChars(pos, t._value->data, t._value->length, t._value != _value);
}

void TextString::insert(int pos, char c)
{
    insertChars(pos, &c, 1, true);
}

// ---------------------------------------------------------------------------
// Parts of the text, element access

TextString TextString::subString(int start, int n) const
{
    unsigned p = clampPosition(start);
    unsigned rest = _value->length - p;
    unsigned count = static_cast<unsigned>(n) < rest ? static_cast<unsigned>(n) : rest;
    return TextString(new StringValue(_value->data + p, count), Adopt());
}

TextString TextString::right(int n) const
{
    if (static_cast<unsigned>(n) >= _value->length)
        return *this;
    return TextString(new StringValue(_value->data + _value->length - n, static_cast<unsigned>(n)),
                      Adopt());
}

void TextString::checkIndex(int i) const
{
    QEV_LOG(LogStream::BUG, "TextString") << "index out of range in TextString::checkIndex() "
                                          << " stringSize=" << _value->length
                                          << " user-index=" << i << std::endl;
}

char& TextString::operator[](int i)
{
    if (static_cast<unsigned>(i) >= _value->length) {
        checkIndex(i);
        static char nul;
        nul = '\0';
        return nul;
    }
    makePrivate();
    _value->markUnshareable();
    return _value->data[i];
}

char TextString::operator[](int i) const
{
    if (static_cast<unsigned>(i) >= _value->length) {
        checkIndex(i);
        return '\0';
    }
    return _value->data[i];
}

// ---------------------------------------------------------------------------
// Searching

const char* strrstr(const char* text, const char* pattern)
{
    size_t textLength = strlen(text);
    size_t patternLength = strlen(pattern);
    if (patternLength > textLength)
        return nullptr;
    for (size_t i = textLength - patternLength + 1; i-- > 0;) {
        if (strncmp(text + i, pattern, patternLength) == 0)
            return text + i;
    }
    return nullptr;
}

// A forward search runs from start to the end; a backward one looks only at
// the first start + 1 characters and takes the last match there.
bool TextString::search(const char* pattern, bool oneChar, int& pos, int start,
                        SearchDir dir) const
{
    if (_value->length == 0 && start == 0)
        return false;
    unsigned from = clampPosition(start);
    const char* text;
    const char* found;
    TextString head;
    switch (dir) {
    case Forward:
        text = _value->data;
        found = oneChar ? strchr(text + from, pattern[0]) : strstr(text + from, pattern);
        break;
    case Backward: {
        unsigned n = from + 1 < _value->length ? from + 1 : _value->length;
        head = TextString(new StringValue(_value->data, n), Adopt());
        text = head.c_str();
        found = oneChar ? strrchr(text, pattern[0]) : strrstr(text, pattern);
        break;
    }
    default:
        QEV_LOG(LogStream::BUG, "TextString") << "Unknown SearchDir specified" << std::endl;
        return false;
    }
    if (!found)
        return false;
    pos = static_cast<int>(found - text);
    return true;
}

bool TextString::indexOfChar(char c, int& pos, int start, SearchDir dir) const
{
    const char pattern[2] = {c, '\0'};
    return search(pattern, true, pos, start, dir);
}

bool TextString::indexOfString(const TextString& s, int& pos, int start, SearchDir dir) const
{
    return search(s.c_str(), false, pos, start, dir);
}

// ---------------------------------------------------------------------------
// Changing the text in place

void TextString::remove(int pos, int n)
{
    makePrivate();
    unsigned p = clampPosition(pos);
    unsigned rest = _value->length - p;
    unsigned count = static_cast<unsigned>(n) < rest ? static_cast<unsigned>(n) : rest;
    if (count > 0) {
        memmove(_value->data + p, _value->data + p + count, rest - count + 1);
        _value->length = static_cast<unsigned>(strlen(_value->data));
    }
}

void TextString::toLower()
{
    makePrivate();
    for (unsigned i = 0; i < _value->length; ++i)
        _value->data[i] = static_cast<char>(tolower(static_cast<unsigned char>(_value->data[i])));
}

void TextString::toUpper()
{
    makePrivate();
    for (unsigned i = 0; i < _value->length; ++i)
        _value->data[i] = static_cast<char>(toupper(static_cast<unsigned char>(_value->data[i])));
}

void TextString::stripLeadingBlanks()
{
    if (_value->data[0] != ' ')
        return;
    unsigned blanks = 0;
    while (_value->data[blanks] == ' ')
        ++blanks;
    makePrivate();
    memmove(_value->data, _value->data + blanks, _value->length - blanks + 1);
    _value->length = static_cast<unsigned>(strlen(_value->data));
}

void TextString::stripTrailingBlanks()
{
    makePrivate();
    unsigned end = _value->length;
    while (end > 0 && _value->data[end - 1] == ' ')
        --end;
    _value->data[end] = '\0';
    _value->length = static_cast<unsigned>(strlen(_value->data));
}

// ---------------------------------------------------------------------------
// Reading a word

TextString readWord(std::istream& in)
{
    TextString word;
    for (;;) {
        char piece[256];
        in >> std::setw(sizeof piece) >> piece;
        if (in.fail())
            break;
        word += piece;
        int next = in.peek();
        if (next == std::char_traits<char>::eof() || isspace(next))
            break;
    }
    return word;
}
