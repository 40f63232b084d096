#include "BufrTableVersions.h"

#include "LineFile.h"
#include "LogStream.h"
#include "LogText.h"
#include "TableBEntry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdlib>

namespace {

std::vector<std::string> splitAtBars(const std::string& line)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos)
            return fields;
        start = bar + 1;
    }
}

// A whole decimal number that fits an int.
bool toInt(const std::string& text, int& value)
{
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < INT_MIN || n > INT_MAX)
        return false;
    value = static_cast<int>(n);
    return true;
}

// Six digits FXXYYY, F one of `kinds`.
bool toDescriptor(const std::string& text, const char* kinds, int& descriptor)
{
    if (text.size() != 6 || !std::strchr(kinds, text[0]))
        return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return toInt(text, descriptor);
}

} // namespace

BufrTableVersions::BufrTableVersions() : _first(-1), _last(-1), _base(-1) {}

void BufrTableVersions::clear()
{
    _first = _last = _base = -1;
    _elementRanges.clear();
    _sequenceRanges.clear();
    _elements.clear();
    _sequences.clear();
}

std::string BufrTableVersions::unitsKind(const TextString& units)
{
    std::string text(units.c_str(), static_cast<std::size_t>(units.length()));
    std::string upper = text;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.compare(0, 9, "CCITT IA5") == 0)
        return "CCITT IA5";
    if (upper.find("CODE TABLE") != std::string::npos)
        return "CODE TABLE";
    if (upper.find("FLAG TABLE") != std::string::npos)
        return "FLAG TABLE";
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool BufrTableVersions::corrupted(const TextString& path, const TextString& line)
{
    QEV_LOG(LogStream::PROBLEM, "BufrTableVersions")
        << "Line corrupted in " << LogText(path) << "[" << LogText(line) << "]" << std::endl;
    clear();
    return false;
}

bool BufrTableVersions::load(const TextString& path)
{
    clear();
    LineFile file(path);
    if (!file.isOpen()) {
        QEV_LOG(LogStream::PROBLEM, "BufrTableVersions")
            << "Unable to open table versions file " << LogText(path) << std::endl;
        return false;
    }
    TextString line;
    while (file.readLine(line, false)) {
        std::string text(line.c_str(), static_cast<std::size_t>(line.length()));
        if (text.empty() || text.compare(0, 2, "//") == 0)
            continue;
        const std::vector<std::string> fields = splitAtBars(text);
        if (loaded()) {
            if (!readLine(fields))
                return corrupted(path, line);
            continue;
        }
        // The first line names the versions covered and the base version.
        int first = 0, last = 0, base = 0;
        if (fields.size() != 4 || fields[0] != "versions" || !toInt(fields[1], first) ||
            !toInt(fields[2], last) || !toInt(fields[3], base) || first < 0 ||
            first > base || base > last || last > 255)
            return corrupted(path, line);
        _first = first;
        _last = last;
        _base = base;
    }
    if (!loaded())
        return corrupted(path, TextString("no versions line"));
    return true;
}

// B|FROM|TO|FXXYYY|NAME|UNITS|scale|reference|width, D|FROM|TO|FXXYYY|
// FXXYYY|...|FXXYYY, or either kind with "-" after the descriptor.
bool BufrTableVersions::readLine(const std::vector<std::string>& fields)
{
    const bool element = fields[0] == "B";
    if ((!element && fields[0] != "D") || fields.size() < 5)
        return false;
    int from = 0, to = 0, descriptor = 0;
    if (!toInt(fields[1], from) || !toInt(fields[2], to) || from < _first || to > _last ||
        from > to || (from <= _base && _base <= to) ||
        !toDescriptor(fields[3], element ? "0" : "3", descriptor))
        return false;
    int definition = -1;
    if (fields.size() == 5 && fields[4] == "-") {
        // The versions lack the descriptor.
    } else if (element) {
        Element e;
        if (fields.size() != 9 || fields[4].empty() || fields[5].empty() ||
            !toInt(fields[6], e.scale) || !toInt(fields[7], e.reference) ||
            !toInt(fields[8], e.width) ||
            !TableBEntry::codingFault(e.scale, e.reference, e.width).empty())
            return false;
        e.units = TextString(fields[5].c_str());
        definition = static_cast<int>(_elements.size());
        _elements.push_back(e);
    } else {
        SeqOf<int> list;
        for (std::size_t i = 4; i < fields.size(); ++i) {
            int member = 0;
            if (!toDescriptor(fields[i], "0123", member))
                return false;
            list.append(member);
        }
        definition = static_cast<int>(_sequences.size());
        _sequences.push_back(list);
    }
    std::vector<Range>& ranges = (element ? _elementRanges : _sequenceRanges)[descriptor];
    for (const Range& r : ranges)
        if (r.from <= to && from <= r.to)
            return false;    // two definitions for one version
    ranges.push_back(Range{from, to, definition});
    return true;
}

int BufrTableVersions::definitionIn(const std::vector<Range>* ranges, int version,
                                    bool baseDefines) const
{
    if (ranges)
        for (const Range& r : *ranges)
            if (r.from <= version && version <= r.to)
                return r.definition;
    return baseDefines ? -2 : -1;
}

template <class Same>
BufrTableVersions::Answer BufrTableVersions::resolve(int descriptor, int version,
                                                     const std::vector<Range>* ranges,
                                                     bool baseDefines, Same same, int& own,
                                                     std::string& why) const
{
    const std::string name = "Descriptor " + std::to_string(descriptor);
    if (!loaded()) {
        why = name + " is not known in master table version " + std::to_string(version) +
              ": no table versions are loaded";
        return UNKNOWN;
    }
    if (version == _base)
        return BASE;
    // No version defines it: the tables lack it, and there is no more to say.
    if (!ranges && !baseDefines)
        return ABSENT;
    if (_first <= version && version <= _last) {
        own = definitionIn(ranges, version, baseDefines);
        if (own >= 0)
            return OWN;
        if (own == -2)
            return BASE;
        why = name + " is not in master table version " + std::to_string(version) + ".";
        return ABSENT;
    }

    // A version after the newest loaded: versions only add entries to the
    // ones before them, so the newest loaded one's definition is the
    // message's, and what it lacks is missing.
    if (version > _last) {
        own = definitionIn(ranges, _last, baseDefines);
        if (own == -1) {
            why = name + " is not in master table version " + std::to_string(_last) +
                  ", the newest loaded, with which version " + std::to_string(version) +
                  " is read.";
            return ABSENT;
        }
        return own == -2 ? BASE : OWN;
    }

    // An older version not loaded: the oldest loaded one's definition, when
    // every loaded version that defines the descriptor defines it alike.
    const int nearest = _first;
    own = definitionIn(ranges, nearest, baseDefines);
    if (own == -1) {
        why = name + " is not in master table version " + std::to_string(nearest) +
              ", the loaded version nearest to the message's version " +
              std::to_string(version) + ".";
        return ABSENT;
    }
    int alike = nearest;
    for (int v = nearest + 1; v <= _last; ++v) {
        const int other = definitionIn(ranges, v, baseDefines);
        if (other == -1)
            continue;
        if (!same(own, other)) {
            why = name + " is not known in master table version " + std::to_string(version) +
                  ", which is not loaded: versions " + std::to_string(std::min(alike, v)) +
                  " and " + std::to_string(std::max(alike, v)) + " define it differently.";
            return UNKNOWN;
        }
        alike = v;
    }
    return own == -2 ? BASE : OWN;
}

template <class T, class Same>
BufrTableVersions::Answer BufrTableVersions::answer(const Ranges& all,
                                                    const std::vector<T>& definitions,
                                                    int descriptor, int version, const T* base,
                                                    Same same, const T*& own,
                                                    std::string& why) const
{
    Ranges::const_iterator found = all.find(descriptor);
    const std::vector<Range>* ranges = found == all.end() ? nullptr : &found->second;
    auto at = [&](int index) -> const T& { return index == -2 ? *base : definitions[index]; };
    int index = -1;
    const Answer a = resolve(descriptor, version, ranges, base != nullptr,
                             [&](int x, int y) { return same(at(x), at(y)); }, index, why);
    if (a == OWN)
        own = &definitions[index];
    return a;
}

BufrTableVersions::Answer BufrTableVersions::element(int descriptor, int version,
                                                     const Element* baseDefinition,
                                                     const Element*& own,
                                                     std::string& why) const
{
    auto same = [](const Element& x, const Element& y) {
        return x.scale == y.scale && x.reference == y.reference && x.width == y.width &&
               unitsKind(x.units) == unitsKind(y.units);
    };
    return answer(_elementRanges, _elements, descriptor, version, baseDefinition, same, own, why);
}

BufrTableVersions::Answer BufrTableVersions::sequence(int descriptor, int version,
                                                      const SeqOf<int>* baseDefinition,
                                                      const SeqOf<int>*& own,
                                                      std::string& why) const
{
    auto same = [](const SeqOf<int>& x, const SeqOf<int>& y) {
        return x.length() == y.length() &&
               std::equal(x.elements(), x.elements() + x.length(), y.elements());
    };
    return answer(_sequenceRanges, _sequences, descriptor, version, baseDefinition, same, own,
                  why);
}
