#include "JsonValue.h"

#include <cstdlib>
#include <cstring>

// Recursive descent over the text; nesting is bounded so that a hostile
// text cannot exhaust the stack.
class JsonValue::Reader {
public:
    explicit Reader(const std::string& text) : _s(text) {}

    bool document(JsonValue& out, std::string& error)
    {
        bool ok = value(out, 0) && (blanks(), _pos == _s.size() || fail("end of text"));
        if (!ok)
            error = _error;
        return ok;
    }

private:
    static const int maxDepth = 512;

    bool fail(const char* expected)
    {
        if (_error.empty())
            _error = "offset " + std::to_string(_pos) + ": expected " + expected;
        return false;
    }

    void blanks()
    {
        while (_pos < _s.size() && std::strchr(" \t\r\n", _s[_pos]) && _s[_pos] != '\0')
            ++_pos;
    }

    bool literal(const char* word)
    {
        std::size_t n = std::strlen(word);
        if (_s.compare(_pos, n, word) != 0)
            return fail(word);
        _pos += n;
        return true;
    }

    bool value(JsonValue& out, int depth)
    {
        if (depth > maxDepth)
            return fail("less nesting");
        blanks();
        if (_pos >= _s.size())
            return fail("a value");
        char c = _s[_pos];
        if (c == '{')
            return object(out, depth);
        if (c == '[')
            return array(out, depth);
        if (c == '"') {
            out._type = String;
            return string(out._text);
        }
        if (c == 't' || c == 'f') {
            out._type = Bool;
            out._bool = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') {
            out._type = Null;
            return literal("null");
        }
        return number(out);
    }

    bool number(JsonValue& out)
    {
        std::size_t start = _pos;
        while (_pos < _s.size() && std::strchr("+-0123456789.eE", _s[_pos]) && _s[_pos] != '\0')
            ++_pos;
        std::string lit = _s.substr(start, _pos - start);
        char* end = nullptr;
        double v = lit.empty() ? 0.0 : std::strtod(lit.c_str(), &end);
        if (lit.empty() || *end != '\0') {
            _pos = start;
            return fail("a value");
        }
        out._type = Number;
        out._number = v;
        out._text = lit;
        return true;
    }

    bool string(std::string& out)
    {
        ++_pos;    // the opening quote
        while (_pos < _s.size()) {
            char c = _s[_pos++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (_pos >= _s.size())
                break;
            char e = _s[_pos++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u':
                if (!unicode(out))
                    return false;
                break;
            default: out += e; break;    // \" \\ \/ and anything unknown
            }
        }
        return fail("a closing quote");
    }

    // \uXXXX as UTF-8 (surrogate pairs are not joined; tools print none).
    bool unicode(std::string& out)
    {
        if (_pos + 4 > _s.size())
            return fail("four hex digits");
        std::string hex = _s.substr(_pos, 4);
        char* end = nullptr;
        unsigned long code = std::strtoul(hex.c_str(), &end, 16);
        if (*end != '\0')
            return fail("four hex digits");
        _pos += 4;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
        return true;
    }

    bool array(JsonValue& out, int depth)
    {
        out._type = Array;
        ++_pos;
        blanks();
        if (_pos < _s.size() && _s[_pos] == ']') {
            ++_pos;
            return true;
        }
        for (;;) {
            out._items.emplace_back();
            if (!value(out._items.back(), depth + 1))
                return false;
            blanks();
            if (_pos < _s.size() && _s[_pos] == ',') {
                ++_pos;
                continue;
            }
            if (_pos < _s.size() && _s[_pos] == ']') {
                ++_pos;
                return true;
            }
            return fail("',' or ']'");
        }
    }

    bool object(JsonValue& out, int depth)
    {
        out._type = Object;
        ++_pos;
        blanks();
        if (_pos < _s.size() && _s[_pos] == '}') {
            ++_pos;
            return true;
        }
        for (;;) {
            blanks();
            if (_pos >= _s.size() || _s[_pos] != '"')
                return fail("a member name");
            std::string name;
            if (!string(name))
                return false;
            blanks();
            if (_pos >= _s.size() || _s[_pos] != ':')
                return fail("':'");
            ++_pos;
            out._members.emplace_back(name, JsonValue());
            if (!value(out._members.back().second, depth + 1))
                return false;
            blanks();
            if (_pos < _s.size() && _s[_pos] == ',') {
                ++_pos;
                continue;
            }
            if (_pos < _s.size() && _s[_pos] == '}') {
                ++_pos;
                return true;
            }
            return fail("',' or '}'");
        }
    }

    const std::string& _s;
    std::size_t _pos = 0;
    std::string _error;
};

bool JsonValue::parse(const std::string& text, JsonValue& out, std::string& error)
{
    out = JsonValue();
    return Reader(text).document(out, error);
}

const JsonValue* JsonValue::find(const std::string& name) const
{
    for (const Member& m : _members)
        if (m.first == name)
            return &m.second;
    return nullptr;
}
