// The program's string: a handle to a reference-counted, copy-on-write text.
//
// Copies share one representation; a write copies the text first when it is
// shared.  All empty strings share the value of TextString::emptyString().
// Positions and counts are compared unsigned, so a negative one acts as a
// very large one; an out-of-range position is logged (checkIndex) and
// clamped to the end of the text.
#ifndef TEXTSTRING_H
#define TEXTSTRING_H

#include "RCObject.h"

#include <iosfwd>

class TextString {
public:
    enum SearchDir { Forward = 0, Backward = 1 };

    // The shared representation: a NUL-terminated buffer of capacity + 1
    // bytes holding length characters.
    struct StringValue : public RCObject {
        char* data;
        unsigned length;
        unsigned capacity;

        StringValue(const char* text, bool withRoom) : data(nullptr) { init(text, withRoom); }
        // A buffer of exactly n characters copied from text (NUL-padded
        // where text is shorter), capacity n.
        StringValue(const char* text, unsigned n);
        // A deep copy without spare room.
        StringValue(const StringValue& other);
        StringValue& operator=(const StringValue&) = delete;
        ~StringValue() override;

        // Fills the value from a NUL-terminated text; with room the capacity
        // is about a tenth (at least 10 characters) above the length.
        void init(const char* text, bool withRoom);
    };

    TextString();
    TextString(const char* s);
    TextString(const char* s, int n);
    TextString(const TextString& other);
    ~TextString();

    TextString& operator=(const TextString& other);
    TextString& operator=(char c) { assignChar(c); return *this; }
    void assignChar(char c);

    // The value every empty string shares.
    static const TextString& emptyString();

    const char* c_str() const { return _value->data; }
    int length() const { return static_cast<int>(_value->length); }
    unsigned capacity() const { return _value->capacity; }

    // What tests look at: the representation held, its holder count and
    // whether copies may share it.
    const void* rep() const { return _value; }
    int refCount() const { return _value->references(); }
    bool isShareable() const { return _value->isShareable(); }

    TextString& operator+=(const TextString& t);
    TextString& operator+=(const char* s);
    TextString& operator+=(char c);
    void append(const TextString& t, bool withRoom);
    void appendChar(char c, bool withRoom);

    TextString subString(int start, int n) const;
    TextString right(int n) const;

    void checkIndex(int i) const;
    // Writable access: marks the representation not shareable.
    char& operator[](int i);
    // Read access: no copy, no mark; a bad position reads as NUL.
    char operator[](int i) const;

    bool indexOfChar(char c, int& pos, int start = 0, SearchDir dir = Forward) const;
    bool indexOfString(const TextString& s, int& pos, int start = 0,
                       SearchDir dir = Forward) const;

    void insert(int pos, const TextString& t);
    void insert(int pos, char c);
    void remove(int pos, int n);
    void toLower();
    void toUpper();
    void stripLeadingBlanks();
    void stripTrailingBlanks();

    friend bool operator==(const TextString& a, const TextString& b);

private:
    struct Adopt {};
    // Holds a value made for this string.
    TextString(StringValue* value, Adopt);
    void makePrivate();
    void replaceValue(StringValue* fresh);
    // Clamps a position to the text, logging one at or past its end.
    unsigned clampPosition(int pos) const;
    // Inserts n characters at pos, in place when the text is unshared and
    // they fit, else into a new value with room.
    void insertChars(int pos, const char* chars, unsigned n, bool inPlaceAllowed);
    bool search(const char* pattern, bool oneChar, int& pos, int start, SearchDir dir) const;

    StringValue* _value;
};

bool operator!=(const TextString& a, const TextString& b);
bool operator<(const TextString& a, const TextString& b);
bool operator>(const TextString& a, const TextString& b);
bool operator<=(const TextString& a, const TextString& b);
bool operator>=(const TextString& a, const TextString& b);

TextString operator+(const TextString& a, const TextString& b);

std::ostream& operator<<(std::ostream& out, const TextString& s);

// One word of any length: whitespace-delimited pieces of at most 255
// characters are read and joined until the next character is white space or
// the end of the stream.  Empty when the stream yields no word.
TextString readWord(std::istream& in);

// The last occurrence of pattern in text, or null.
const char* strrstr(const char* text, const char* pattern);

#endif
