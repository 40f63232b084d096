#include "EcCodesDump.h"

#include "JsonValue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

bool isMissingNumber(double n)
{
    return n <= EcCodesDump::missingNumber / 10;
}

// numericValues holds a code of ecCodes' own for each character element.
bool numberless(const EcCodesDump::Value& v)
{
    return v.kind == EcCodesDump::Text || v.role == EcCodesDump::OperatorText ||
           v.units == "CCITT IA5";
}

// A JSON number printed with %g carries six significant digits; only an
// integer literal longer than that was printed whole.
double printErrorOf(const std::string& literal, double value)
{
    bool integral = literal.find_first_of(".eE") == std::string::npos;
    int digits = 0;
    for (char c : literal)
        if (c >= '0' && c <= '9')
            ++digits;
    if ((integral && digits > 6) || value == 0.0)
        return 0.0;
    return 0.5 * std::pow(10.0, std::floor(std::log10(std::fabs(value))) - 5);
}

int intMember(const JsonValue& object, const char* name, int fallback)
{
    const JsonValue* v = object.find(name);
    return v && v->type() == JsonValue::Number ? static_cast<int>(v->number()) : fallback;
}

std::string textMember(const JsonValue& object, const char* name)
{
    const JsonValue* v = object.find(name);
    return v && v->type() == JsonValue::String ? v->text() : std::string();
}

std::string numberText(double n)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", n);
    return buf;
}

} // namespace

void EcCodesDump::collect(const JsonValue& node, const std::string& member,
                          bool inAssociatedField, std::vector<Entry>& entries, int& group,
                          std::string& error)
{
    if (!error.empty())
        return;
    if (node.type() == JsonValue::Array) {
        for (const JsonValue& item : node.items())
            collect(item, member, inAssociatedField, entries, group, error);
        return;
    }
    if (node.type() != JsonValue::Object)
        return;
    std::string key = textMember(node, "key");
    const JsonValue* code = node.find("code");
    if (key == "subsetNumber" && !code) {
        ++group;
        return;
    }
    bool associated = false;
    if (node.find("index")) {
        Role role = Element;
        std::string c = code ? code->text() : std::string();
        if (!code)
            role = OperatorText;
        else if (c == "999999")
            role = AssociatedField;
        else if (c == "031021" && inAssociatedField)
            role = AssociatedSignificance;
        else if (!c.empty() && c[0] == '2')
            role = Operator;
        associated = role == AssociatedField;
        entries.push_back(Entry{&node, role, std::max(group, 0)});
    } else if (!code && !key.empty() && !header(node, error)) {
        return;
    }
    for (const JsonValue::Member& m : node.members())
        if (m.first != "value")
            collect(m.second, m.first, inAssociatedField || associated, entries, group, error);
}

bool EcCodesDump::header(const JsonValue& object, std::string& error)
{
    std::string key = textMember(object, "key");
    const JsonValue* value = object.find("value");
    if (!value || value->type() != JsonValue::Number)
        return true;
    int n = static_cast<int>(value->number());
    if (key == "edition") {
        if (_edition != 0) {
            error = "the dump holds more than one message";
            return false;
        }
        _edition = n;
    } else if (key == "masterTablesVersionNumber") {
        _masterTablesVersion = n;
    } else if (key == "numberOfSubsets") {
        _subsetCount = n;
    } else if (key == "compressedData") {
        _compressed = n != 0;
    }
    return true;
}

bool EcCodesDump::fill(const Entry& entry, int subset, Value& v, std::string& error) const
{
    const JsonValue& o = *entry.object;
    v.index = intMember(o, "index", 0);
    v.key = textMember(o, "key");
    std::string code = textMember(o, "code");
    v.descriptor = code.empty() ? -1 : std::atoi(code.c_str());
    v.units = textMember(o, "units");
    v.scale = intMember(o, "scale", 0);
    v.reference = intMember(o, "reference", 0);
    v.width = intMember(o, "width", 0);
    v.role = entry.role;
    const JsonValue* value = o.find("value");
    if (value && value->type() == JsonValue::Array) {
        if (static_cast<int>(value->items().size()) != _subsetCount) {
            error = "#" + std::to_string(v.index) + " " + v.key + " has " +
                    std::to_string(value->items().size()) + " values for " +
                    std::to_string(_subsetCount) + " subsets";
            return false;
        }
        value = &value->items()[subset];
    }
    if (!value || value->isNull()) {
        v.kind = Missing;
    } else if (value->type() == JsonValue::Number) {
        v.kind = Number;
        v.number = value->number();
        v.printError = printErrorOf(value->text(), v.number);
    } else if (value->type() == JsonValue::String) {
        v.kind = Text;
        v.text = value->text();
    } else {
        error = "#" + std::to_string(v.index) + " " + v.key + " has a value of no known kind";
        return false;
    }
    return true;
}

bool EcCodesDump::parseJson(const std::string& json, std::string& error)
{
    *this = EcCodesDump();
    error.clear();
    JsonValue root;
    if (!JsonValue::parse(json, root, error)) {
        error = "not JSON: " + error;
        return false;
    }
    const JsonValue* messages = root.find("messages");
    if (!messages || messages->type() != JsonValue::Array) {
        error = "no \"messages\" array";
        return false;
    }
    std::vector<Entry> entries;
    int group = -1;
    collect(*messages, std::string(), false, entries, group, error);
    if (!error.empty())
        return false;
    if (_edition == 0) {
        error = "no message header (a dump made with -ja is needed)";
        return false;
    }
    int groups = _compressed ? 1 : std::max(group + 1, _subsetCount > 0 ? 1 : 0);
    if (!_compressed && _subsetCount > 0 && group + 1 != _subsetCount) {
        error = std::to_string(group + 1) + " subsets printed, " + std::to_string(_subsetCount) +
                " announced";
        return false;
    }
    // Each group's entries by number, each number once; standard data keeps
    // numbering across subsets, compressed data numbers within one subset.
    std::vector<std::vector<const Entry*> > byGroup(groups);
    for (const Entry& e : entries)
        if (_compressed || e.group < groups)
            byGroup[_compressed ? 0 : e.group].push_back(&e);
    int subsets = _compressed ? _subsetCount : groups;
    _subsets.assign(subsets, std::vector<Value>());
    int next = 1;
    for (int g = 0; g < groups; ++g) {
        std::vector<const Entry*>& list = byGroup[g];
        std::stable_sort(list.begin(), list.end(), [](const Entry* a, const Entry* b) {
            return intMember(*a->object, "index", 0) < intMember(*b->object, "index", 0);
        });
        int first = _compressed ? 1 : next;
        int last = list.empty() ? first - 1 : intMember(*list.back()->object, "index", 0);
        if (!list.empty() && intMember(*list.front()->object, "index", 0) < first) {
            error = "subset " + std::to_string(g) + " repeats positions of an earlier subset";
            return false;
        }
        for (int s = _compressed ? 0 : g; s < (_compressed ? subsets : g + 1); ++s) {
            std::vector<Value>& out = _subsets[s];
            std::size_t k = 0;
            for (int index = first; index <= last; ++index) {
                Value v;
                v.index = index;
                while (k < list.size() && intMember(*list[k]->object, "index", 0) < index)
                    ++k;
                if (k < list.size() && intMember(*list[k]->object, "index", 0) == index &&
                    !fill(*list[k], s, v, error))
                    return false;
                out.push_back(v);
            }
        }
        if (_compressed)
            _indicesPerSubset = last;
        next = last + 1;
    }
    return true;
}

std::size_t EcCodesDump::layoutIndex(int subset, const Value& v) const
{
    return _compressed ? static_cast<std::size_t>(subset) * _indicesPerSubset + v.index - 1
                       : static_cast<std::size_t>(v.index - 1);
}

std::size_t EcCodesDump::layoutSize() const
{
    if (_compressed)
        return static_cast<std::size_t>(_indicesPerSubset) * _subsetCount;
    for (auto it = _subsets.rbegin(); it != _subsets.rend(); ++it)
        if (!it->empty())
            return it->back().index;
    return 0;
}

int EcCodesDump::numbersDisagreeing(const std::vector<double>& numbers,
                                    std::vector<std::string>& details,
                                    std::size_t maxDetails) const
{
    if (numbers.size() != layoutSize()) {
        details.push_back(std::to_string(numbers.size()) + " numbers for " +
                          std::to_string(layoutSize()) + " numbered values");
        return -1;
    }
    int count = 0;
    for (std::size_t s = 0; s < _subsets.size(); ++s) {
        for (const Value& v : _subsets[s]) {
            if (numberless(v) || v.role == Unprinted)
                continue;
            double n = numbers[layoutIndex(static_cast<int>(s), v)];
            bool agree = v.kind == Missing
                             ? isMissingNumber(n)
                             : !isMissingNumber(n) &&
                                   std::fabs(n - v.number) <=
                                       v.printError + 1e-9 * std::max(1.0, std::fabs(n));
            if (agree)
                continue;
            if (++count <= static_cast<int>(maxDetails))
                details.push_back(describe(static_cast<int>(s), v) + ", listing has " +
                                  (isMissingNumber(n) ? std::string("missing") : numberText(n)));
        }
    }
    return count;
}

bool EcCodesDump::applyNumericValues(const std::vector<double>& numbers, std::string& error)
{
    std::vector<std::string> details;
    if (numbersDisagreeing(numbers, details, 1) != 0) {
        error = "numericValues disagree with the JSON: " + details.front();
        return false;
    }
    for (std::size_t s = 0; s < _subsets.size(); ++s) {
        for (Value& v : _subsets[s]) {
            if (numberless(v))
                continue;
            double n = numbers[layoutIndex(static_cast<int>(s), v)];
            if (isMissingNumber(n)) {
                v.kind = Missing;
            } else {
                v.kind = Number;
                v.number = n;
            }
            v.printError = 0.0;
        }
    }
    return true;
}

bool EcCodesDump::readNumbers(const std::string& text, std::vector<double>& numbers)
{
    numbers.clear();
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        char* end = nullptr;
        double n = std::strtod(word.c_str(), &end);
        if (end == word.c_str() || *end != '\0')
            return false;
        numbers.push_back(n);
    }
    return true;
}

EcCodesDump::Value EcCodesDump::element(int descriptor, double number, int scale)
{
    Value v;
    v.descriptor = descriptor;
    v.role = Element;
    v.kind = Number;
    v.number = number;
    v.scale = scale;
    return v;
}

double EcCodesDump::tolerance(const Value& v)
{
    return 0.5 * std::pow(10.0, -v.scale) + v.printError;
}

std::string EcCodesDump::trimmed(const std::string& text)
{
    const std::string blanks(" \0", 2);
    std::string::size_type b = text.find_first_not_of(blanks);
    if (b == std::string::npos)
        return std::string();
    return text.substr(b, text.find_last_not_of(blanks) - b + 1);
}

bool EcCodesDump::sameText(const std::string& a, const std::string& b)
{
    return trimmed(a) == trimmed(b);
}

int EcCodesDump::differences(const EcCodesDump& a, const EcCodesDump& b,
                             std::vector<std::string>& details, std::size_t maxDetails)
{
    int count = 0;
    auto note = [&](const std::string& what) {
        if (++count <= static_cast<int>(maxDetails))
            details.push_back(what);
    };
    if (a._subsets.size() != b._subsets.size()) {
        note(std::to_string(a._subsets.size()) + " subsets against " +
             std::to_string(b._subsets.size()));
        return count;
    }
    for (std::size_t s = 0; s < a._subsets.size(); ++s) {
        const std::vector<Value>& x = a._subsets[s];
        const std::vector<Value>& y = b._subsets[s];
        if (x.size() != y.size())
            note("subset " + std::to_string(s) + ": " + std::to_string(x.size()) +
                 " values against " + std::to_string(y.size()));
        for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
            const Value& u = x[i];
            const Value& v = y[i];
            bool same = u.descriptor == v.descriptor && u.role == v.role && u.kind == v.kind &&
                        u.scale == v.scale && u.reference == v.reference && u.width == v.width;
            if (same && u.kind == Number)
                same = std::fabs(u.number - v.number) <= std::max(tolerance(u), tolerance(v));
            if (same && u.kind == Text)
                same = sameText(u.text, v.text);
            if (!same)
                note(describe(static_cast<int>(s), u) + " (scale " + std::to_string(u.scale) +
                     ", width " + std::to_string(u.width) + ") against " + describe(int(s), v) +
                     " (scale " + std::to_string(v.scale) + ", width " +
                     std::to_string(v.width) + ")");
        }
        if (x.size() != y.size())
            break;    // the later subsets would only repeat the misalignment
    }
    return count;
}

std::string EcCodesDump::describe(int subset, const Value& v)
{
    char code[16];
    std::snprintf(code, sizeof code, "%06d", v.descriptor);
    std::string s = "subset " + std::to_string(subset) + " #" + std::to_string(v.index) + " " +
                    (v.descriptor < 0 ? std::string("------") : std::string(code));
    if (!v.key.empty())
        s += " " + v.key;
    if (v.role == Unprinted && v.kind == Missing)
        return s + " (not printed)";
    switch (v.kind) {
    case Number: return s + " = " + numberText(v.number);
    case Text: return s + " = '" + v.text + "'";
    case Missing: break;
    }
    return s + " = missing";
}

int EcCodesDump::valueCount() const
{
    int n = 0;
    for (const std::vector<Value>& s : _subsets)
        n += static_cast<int>(s.size());
    return n;
}
