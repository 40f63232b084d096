// A small JSON reader for the output of ecCodes' bufr_dump.  Objects keep
// their members in document order, numbers keep the literal text they were
// written with (its digits tell how precisely the tool printed a value), and
// an escape stands for the escaped character itself (the tool writes "\?").
// Only what the tool prints is read: no true/false, no \u escapes.
#ifndef JSONVALUE_H
#define JSONVALUE_H

#include <string>
#include <utility>
#include <vector>

class JsonValue {
public:
    enum Type { Null, Number, String, Array, Object };
    typedef std::pair<std::string, JsonValue> Member;

    // The whole text as one value (white space around it allowed).  On
    // failure `error` names the offset and what was expected.
    static bool parse(const std::string& text, JsonValue& out, std::string& error);

    Type type() const { return _type; }
    bool isNull() const { return _type == Null; }
    double number() const { return _number; }
    // The number's literal text, or the string's text.
    const std::string& text() const { return _text; }
    const std::vector<JsonValue>& items() const { return _items; }
    const std::vector<Member>& members() const { return _members; }
    // The first member of that name, or null.
    const JsonValue* find(const std::string& name) const;

private:
    class Reader;

    Type _type = Null;
    double _number = 0.0;
    std::string _text;
    std::vector<JsonValue> _items;
    std::vector<Member> _members;
};

#endif
