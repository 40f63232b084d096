#include "LogText.h"

#include "TextString.h"

LogText::LogText(const TextString& text)
    : _text(text.c_str()), _length(static_cast<size_t>(text.length() > 0 ? text.length() : 0))
{
}

std::string LogText::escaped() const
{
    std::string out;
    out.reserve(_length);
    for (size_t i = 0; i < _length; ++i) {
        const unsigned char c = static_cast<unsigned char>(_text[i]);
        if (c >= 0x20 && c != 0x7f) {
            out += static_cast<char>(c);
            continue;
        }
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            static const char digits[] = "0123456789abcdef";
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 0xf];
        }
        }
    }
    return out;
}

std::ostream& operator<<(std::ostream& out, const LogText& text)
{
    return out << text.escaped();
}
