#include "JsonValue.h"

#include <cstdlib>
#include <cstring>

// Recursive descent over the text; nesting is bounded so that no text can
// exhaust the stack.
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
    bool fail(const char* expected)
    {
        if (_error.empty())
            _error = "offset " + std::to_string(_pos) + ": expected " + expected;
        return false;
    }

    static bool in(const char* set, char c) { return c != '\0' && std::strchr(set, c); }

    void blanks()
    {
        while (_pos < _s.size() && in(" \t\r\n", _s[_pos]))
            ++_pos;
    }

    // Passes over blanks and then `c`, if `c` is next.
    bool next(char c)
    {
        blanks();
        if (_pos >= _s.size() || _s[_pos] != c)
            return false;
        ++_pos;
        return true;
    }

    bool value(JsonValue& out, int depth)
    {
        if (depth > 512)
            return fail("less nesting");
        if (next('{') || next('['))
            return container(out, _s[_pos - 1] == '{', depth);
        if (next('"')) {
            out._type = String;
            return string(out._text);
        }
        if (_s.compare(_pos, 4, "null") == 0) {
            _pos += 4;
            out._type = Null;
            return true;
        }
        std::size_t start = _pos;
        while (_pos < _s.size() && in("+-0123456789.eE", _s[_pos]))
            ++_pos;
        out._text = _s.substr(start, _pos - start);
        char* end = nullptr;
        out._number = std::strtod(out._text.c_str(), &end);
        if (out._text.empty() || *end != '\0') {
            _pos = start;
            return fail("a value");
        }
        out._type = Number;
        return true;
    }

    // After the opening quote.
    bool string(std::string& out)
    {
        while (_pos < _s.size()) {
            char c = _s[_pos++];
            if (c == '"')
                return true;
            if (c == '\\' && _pos < _s.size()) {
                c = _s[_pos++];
                c = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
            }
            out += c;
        }
        return fail("a closing quote");
    }

    // After the opening bracket or brace.
    bool container(JsonValue& out, bool object, int depth)
    {
        out._type = object ? Object : Array;
        const char close = object ? '}' : ']';
        if (next(close))
            return true;
        for (;;) {
            JsonValue* item = nullptr;
            if (object) {
                std::string name;
                if (!next('"'))
                    return fail("a member name");
                if (!string(name))
                    return false;
                if (!next(':'))
                    return fail("':'");
                out._members.emplace_back(name, JsonValue());
                item = &out._members.back().second;
            } else {
                out._items.emplace_back();
                item = &out._items.back();
            }
            if (!value(*item, depth + 1))
                return false;
            if (next(close))
                return true;
            if (!next(','))
                return fail(object ? "',' or '}'" : "',' or ']'");
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
