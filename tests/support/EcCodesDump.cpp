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
    int digits = static_cast<int>(std::count_if(literal.begin(), literal.end(),
                                                [](char c) { return c >= '0' && c <= '9'; }));
    if ((integral && digits > 6) || value == 0.0)
        return 0.0;
    return 0.5 * std::pow(10.0, std::floor(std::log10(std::fabs(value))) - 5);
}

int intMember(const JsonValue& object, const char* name)
{
    const JsonValue* v = object.find(name);
    return v && v->type() == JsonValue::Number ? static_cast<int>(v->number()) : 0;
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

std::string descriptorText(int d)
{
    char code[16];
    std::snprintf(code, sizeof code, "%06d", d);
    return d < 0 ? "------" : code;
}

} // namespace

int EcCodesDump::header(const std::string& key) const
{
    std::map<std::string, int>::const_iterator it = _header.find(key);
    return it == _header.end() ? -1 : it->second;
}

void EcCodesDump::collect(const JsonValue& node, bool inAssociatedField, int owner,
                          std::vector<Entry>& entries, int& group, std::string& error)
{
    if (!error.empty())
        return;
    if (node.type() == JsonValue::Array) {
        for (const JsonValue& item : node.items())
            collect(item, inAssociatedField, owner, entries, group, error);
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
        std::string c = code ? code->text() : std::string();
        Role role = !code ? OperatorText
                    : c == "999999" ? AssociatedField
                    : c == "031021" && inAssociatedField ? AssociatedSignificance
                    : !c.empty() && c[0] == '2' ? Operator
                    : Element;
        associated = role == AssociatedField;
        entries.push_back(Entry{&node, role, std::max(group, 0), owner});
        if (role == Element)
            owner = intMember(node, "index");
    } else if (!code && !key.empty()) {
        const JsonValue* value = node.find("value");
        if (value && value->type() == JsonValue::Number) {
            if (key == "edition" && _header.count(key)) {
                error = "the dump holds more than one message";
                return;
            }
            _header[key] = static_cast<int>(value->number());
        }
    }
    for (const JsonValue::Member& m : node.members())
        if (m.first != "value")
            collect(m.second, inAssociatedField || associated, owner, entries, group, error);
}

bool EcCodesDump::fill(const Entry& entry, int subset, Value& v, std::string& error) const
{
    const JsonValue& o = *entry.object;
    v.index = intMember(o, "index");
    v.key = textMember(o, "key");
    std::string code = textMember(o, "code");
    v.descriptor = code.empty() ? -1 : std::atoi(code.c_str());
    v.units = textMember(o, "units");
    v.scale = intMember(o, "scale");
    v.reference = intMember(o, "reference");
    v.width = intMember(o, "width");
    v.role = entry.role;
    v.owner = entry.owner;
    const JsonValue* value = o.find("value");
    std::string at = "#" + std::to_string(v.index) + " " + v.key;
    if (value && value->type() == JsonValue::Array) {
        if (static_cast<int>(value->items().size()) != subsetCount()) {
            error = at + " has " + std::to_string(value->items().size()) + " values for " +
                    std::to_string(subsetCount()) + " subsets";
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
        error = at + " has a value of no known kind";
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
    collect(*messages, false, -1, entries, group, error);
    if (!error.empty())
        return false;
    if (edition() < 0) {
        error = "no message header (a dump made with -ja is needed)";
        return false;
    }
    const bool packed = compressed();
    const int announced = std::max(subsetCount(), 0);
    if (!packed && announced > 0 && group + 1 != announced) {
        error = std::to_string(group + 1) + " subsets printed, " + std::to_string(announced) +
                " announced";
        return false;
    }
    const int groups = packed ? 1 : std::max(group + 1, announced > 0 ? 1 : 0);
    // Each group's entries by number, each number once (the first printed);
    // standard data keeps numbering across subsets, compressed data numbers
    // within one subset.
    std::vector<std::map<int, const Entry*> > byGroup(groups);
    for (const Entry& e : entries)
        if (packed || e.group < groups)
            byGroup[packed ? 0 : e.group].emplace(intMember(*e.object, "index"), &e);
    _subsets.assign(packed ? announced : groups, std::vector<Value>());
    int next = 1;
    for (int g = 0; g < groups; ++g) {
        const std::map<int, const Entry*>& list = byGroup[g];
        int first = packed ? 1 : next;
        int last = list.empty() ? first - 1 : list.rbegin()->first;
        if (!list.empty() && list.begin()->first < first) {
            error = "subset " + std::to_string(g) + " repeats positions of an earlier subset";
            return false;
        }
        for (int s = packed ? 0 : g; s < (packed ? announced : g + 1); ++s) {
            for (int index = first; index <= last; ++index) {
                Value v;
                v.index = index;
                std::map<int, const Entry*>::const_iterator it = list.find(index);
                if (it != list.end() && !fill(*it->second, s, v, error))
                    return false;
                _subsets[s].push_back(v);
            }
        }
        if (packed)
            _indicesPerSubset = last;
        next = last + 1;
    }
    return true;
}

std::size_t EcCodesDump::layoutIndex(int subset, const Value& v) const
{
    return compressed() ? static_cast<std::size_t>(subset) * _indicesPerSubset + v.index - 1
                        : static_cast<std::size_t>(v.index - 1);
}

std::size_t EcCodesDump::layoutSize() const
{
    if (compressed())
        return static_cast<std::size_t>(_indicesPerSubset) * std::max(subsetCount(), 0);
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
            if (!agree && ++count <= static_cast<int>(maxDetails))
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
            v.kind = isMissingNumber(n) ? Missing : Number;
            if (v.kind == Number)
                v.number = n;
            v.printError = 0.0;
        }
    }
    return true;
}

bool EcCodesDump::readNumbers(const std::string& text, std::vector<double>& numbers)
{
    numbers.clear();
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        char* end = nullptr;
        numbers.push_back(std::strtod(word.c_str(), &end));
        if (end == word.c_str() || *end != '\0')
            return false;
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
    auto coded = [](int s, const Value& v) {
        return describe(s, v) + " (scale " + std::to_string(v.scale) + ", width " +
               std::to_string(v.width) + ")";
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
                note(coded(int(s), u) + " against " + coded(int(s), v));
        }
        if (x.size() != y.size())
            break;    // the later subsets would only repeat the misalignment
    }
    return count;
}

std::string EcCodesDump::describe(int subset, const Value& v)
{
    std::string s = "subset " + std::to_string(subset) + " #" + std::to_string(v.index) + " " +
                    descriptorText(v.descriptor);
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

std::string EcCodesDump::listing(bool coding) const
{
    static const char* const marks[] = {"", "A:", "S:", "O:", "T:", "U:"};
    std::string out;
    for (std::size_t s = 0; s < _subsets.size(); ++s) {
        if (s > 0)
            out += " |";
        for (const Value& v : _subsets[s]) {
            out += (out.empty() ? "" : " ") + std::string(marks[v.role]) +
                   (v.role == OperatorText ? "" : descriptorText(v.descriptor));
            if (coding)
                out += "[" + std::to_string(v.scale) + "," + std::to_string(v.reference) + "," +
                       std::to_string(v.width) + "]";
            out += v.role == OperatorText ? "" : "=";
            out += v.kind == Number ? numberText(v.number)
                   : v.kind == Text ? "'" + trimmed(v.text) + "'"
                                    : std::string("missing");
        }
    }
    return out;
}
