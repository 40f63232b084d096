// Helpers of the wire tests: a buffer shown as the 4-byte groups of an XDR
// stream, and exact-size heap copies, so that AddressSanitizer reports any
// read past the bytes a decoder was given.
#ifndef WIREBYTES_H
#define WIREBYTES_H

#include <cstdio>
#include <memory>
#include <string>

// "0000002c 00000002 ...": every 4 bytes in hex, groups separated by blanks.
inline std::string hexGroups(const char* data, size_t n)
{
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && i % 4 == 0)
            text += ' ';
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
        text += byte;
    }
    return text;
}

// The inverse: "0000002c 00000002" as bytes (blanks ignored).
inline std::string fromHex(const std::string& hex)
{
    std::string bytes;
    std::string digits;
    for (char c : hex) {
        if (c == ' ')
            continue;
        digits += c;
        if (digits.size() == 2) {
            bytes += static_cast<char>(std::stoi(digits, nullptr, 16));
            digits.clear();
        }
    }
    return bytes;
}

// A heap block holding exactly the first n bytes of data.
class ExactCopy {
public:
    ExactCopy(const char* data, size_t n) : _bytes(new char[n > 0 ? n : 1]), _n(n)
    {
        for (size_t i = 0; i < n; ++i)
            _bytes[i] = data[i];
    }
    explicit ExactCopy(const std::string& s) : ExactCopy(s.data(), s.size()) {}
    char* begin() { return _bytes.get(); }
    const char* end() const { return _bytes.get() + _n; }

private:
    std::unique_ptr<char[]> _bytes;
    size_t _n;
};

#endif
