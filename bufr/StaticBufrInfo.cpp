#include "StaticBufrInfo.h"

#include "LineFile.h"
#include "LogStream.h"
#include "LogText.h"
#include "environmentNotes.h"
#include "StringTokenizer.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// The '|'-separated fields of a line; runs of '|' are one separator, so no
// field is empty.  The line's newline stays part of its last field.
SeqOf<TextString> splitFields(const TextString& line)
{
    SeqOf<TextString> fields;
    StringTokenizer tokenizer(line, "|", false);
    for (TextString field = tokenizer.nextToken(); field.length() > 0;
         field = tokenizer.nextToken())
        fields.append(field);
    return fields;
}

long toLong(const TextString& text)
{
    return std::strtol(text.c_str(), nullptr, 10);
}

int toInt(const TextString& text)
{
    return static_cast<int>(toLong(text));
}

TextString withoutNewline(const TextString& line)
{
    int n = line.length();
    return n > 0 && line[n - 1] == '\n' ? line.subString(0, n - 1) : line;
}

bool opened(const LineFile& file, const char* table, const TextString& path)
{
    if (file.isOpen())
        return true;
    QEV_LOG(LogStream::PROBLEM, "StaticBufrInfo")
        << "Unable to open " << table << " file " << LogText(path)
        << StaticBufrInfo::homeUnsetNote() << std::endl;
    return false;
}

} // namespace

const char* const StaticBufrInfo::tableFiles[5] = {"bufrTableB", "bufrTableD", "replDescTbl",
                                                   "bufrTableVersions", "bufrLocalCentres"};

StaticBufrInfo* StaticBufrInfo::instance()
{
    static StaticBufrInfo store;
    return &store;
}

StaticBufrInfo::StaticBufrInfo() : _generation(0), _localCentres{7} {}

StaticBufrInfo::~StaticBufrInfo() {}

bool StaticBufrInfo::corrupted(const TextString& path, const TextString& what)
{
    QEV_LOG(LogStream::PROBLEM, "StaticBufrInfo")
        << "Line corrupted in " << LogText(path) << "[" << LogText(withoutNewline(what)) << "]"
        << std::endl;
    return false;
}

bool StaticBufrInfo::loadTables()
{
    ++_generation;
    _tableBPath = homePath("/data/bufrTableB");
    _tableDPath = homePath("/data/bufrTableD");
    _replDescPath = homePath("/data/replDescTbl");
    _versionsPath = homePath("/data/bufrTableVersions");
    _localCentresPath = homePath("/data/bufrLocalCentres");
    return loadTableB() && loadTableD() && loadReplicatedDescriptors() &&
           _versions.load(_versionsPath) && loadLocalCentres();
}

// descriptor|description|units|scale|reference|width, one element a line.
// A line of further whole groups of six stores its last group.  A line whose
// scale, reference or width the decoding arithmetic cannot hold
// (TableBEntry::codingFault) is left out, logged.
bool StaticBufrInfo::loadTableB()
{
    LineFile file(_tableBPath);
    if (!opened(file, "table B", _tableBPath))
        return false;
    TextString line;
    while (file.readLine(line, true)) {
        const SeqOf<TextString> fields = splitFields(line);
        int n = fields.length();
        if (n < 6 || n % 6 != 0)
            return corrupted(_tableBPath, line);
        const TextString* f = fields.elements() + (n - 6);
        int descriptor = toInt(f[0]);
        TextString description = f[1];
        TextString units = f[2];
        description.stripTrailingBlanks();
        units.stripTrailingBlanks();
        const long scale = toLong(f[3]);
        const long reference = toLong(f[4]);
        const long width = toLong(f[5]);
        const std::string fault = TableBEntry::codingFault(scale, reference, width);
        if (!fault.empty()) {
            QEV_LOG(LogStream::PROBLEM, "StaticBufrInfo")
                << "Table B line [" << LogText(withoutNewline(line)) << "] of "
                << LogText(_tableBPath) << ": " << fault << "; the element is not loaded"
                << std::endl;
            continue;
        }

        SeqOf<int> info;
        info.append(static_cast<int>(scale));
        info.append(static_cast<int>(reference));
        info.append(static_cast<int>(width));
        _tableBInfo.insert(descriptor, info);
        if (std::strncmp(units.c_str(), "CCITT IA5", 9) == 0)
            _charElements.insert(descriptor, width);
        if (!storeTableB(descriptor, description, units, static_cast<int>(scale),
                         static_cast<int>(reference), static_cast<int>(width))) {
            QEV_LOG(LogStream::PROBLEM, "StaticBufrInfo")
                << "Unable to create table B dictionary " << LogText(_tableBPath) << std::endl;
            return false;
        }
    }
    return true;
}

// sequence|element|...|element| -- the list ends at the first field that
// converts to 0 (the newline after the final '|').
bool StaticBufrInfo::loadTableD()
{
    LineFile file(_tableDPath);
    if (!opened(file, "table D", _tableDPath))
        return false;
    TextString line;
    while (file.readLine(line, true)) {
        const SeqOf<TextString> fields = splitFields(line);
        if (fields.length() < 2)
            return corrupted(_tableDPath, fields.length() > 0 ? fields[0] : line);
        SeqOf<int> elements;
        int k = 1;
        for (; k < fields.length(); ++k) {
            int d = toInt(fields[k]);
            if (d == 0)
                break;
            elements.append(d);
        }
        if (k == fields.length())
            return corrupted(_tableDPath, fields[0]);
        _tableD.insert(toInt(fields[0]), elements);
    }
    return true;
}

// One descriptor a line, read in pieces of at most five characters (the
// entries are at most five digits long; the piece holding only the line's
// newline enters 0).
bool StaticBufrInfo::loadReplicatedDescriptors()
{
    LineFile file(_replDescPath);
    if (!opened(file, "replicated descriptor table", _replDescPath))
        return false;
    char piece[6];
    while (std::fgets(piece, sizeof piece, file.handle())) {
        const SeqOf<TextString> fields = splitFields(TextString(piece));
        if (fields.length() == 0)
            return corrupted(_replDescPath, TextString(piece));
        _replDescSet.insert(std::strtol(fields[0].c_str(), nullptr, 10));
    }
    return true;
}

// One centre number a line; "//" begins a comment line.  The list replaces
// the one before only when the whole file was read.
bool StaticBufrInfo::loadLocalCentres()
{
    LineFile file(_localCentresPath);
    if (!opened(file, "local centres", _localCentresPath))
        return false;
    std::set<int> centres;
    TextString line;
    while (file.readLine(line, false)) {
        TextString text = line;
        text.stripLeadingBlanks();
        text.stripTrailingBlanks();
        if (text.length() == 0 || std::strncmp(text.c_str(), "//", 2) == 0)
            continue;
        char* end = nullptr;
        long centre = std::strtol(text.c_str(), &end, 10);
        if (*end != '\0' || centre < 0 || centre > 65535 ||
            !std::isdigit(static_cast<unsigned char>(text[0])))
            return corrupted(_localCentresPath, line);
        centres.insert(static_cast<int>(centre));
    }
    _localCentres = centres;
    ++_generation;
    return true;
}

bool StaticBufrInfo::storeTableB(int descriptor, const TextString& description,
                                 const TextString& units, int scale, int reference, int width)
{
    // Every setter succeeds; the checks stay for the day one does not.
    auto fail = [](const char* what, const auto& value) {
        QEV_LOG(LogStream::PROBLEM, "StaticBufrInfo")
            << what << value << "] into Table B Dictionary." << std::endl;
        return false;
    };
    TableBEntry entry;
    if (!entry.setDescriptor(descriptor))
        return fail("Unable to store descriptor [", descriptor);
    if (!entry.setDescription(description))
        return fail("Unable to store description [", description);
    if (!entry.setUnits(units))
        return fail("Unable to store units [", units);
    if (!entry.setScale(scale))
        return fail("Unable to store exponent [", scale);
    if (!entry.setReference(reference))
        return fail("Unable to store increment [", reference);
    if (!entry.setWidth(width))
        return fail("Unable to store bits [", width);
    _tableB.insert(descriptor, entry);
    ++_generation;
    return true;
}

bool StaticBufrInfo::getTableBInfo(int descriptor, SeqOf<int>& info) const
{
    return _tableBInfo.find(descriptor, nullptr, &info);
}

bool StaticBufrInfo::getTableBCoding(int descriptor, int& scale, int& reference,
                                     int& width) const
{
    SeqOf<int> info;
    if (!getTableBInfo(descriptor, info) || info.length() < 3)
        return false;
    const SeqOf<int>& coding = info;
    scale = coding[0];
    reference = coding[1];
    width = coding[2];
    return true;
}

void StaticBufrInfo::setTableBInfo(int descriptor, const SeqOf<int>& info)
{
    _tableBInfo.insert(descriptor, info);
    ++_generation;
}

bool StaticBufrInfo::getTableD(int descriptor, SeqOf<int>& elements) const
{
    return _tableD.find(descriptor, nullptr, &elements);
}

bool StaticBufrInfo::getTableBEntry(int descriptor, TableBEntry& entry) const
{
    return _tableB.find(descriptor, nullptr, &entry);
}

bool StaticBufrInfo::isCharacterElement(int descriptor, long& widthBits) const
{
    return _charElements.find(descriptor, nullptr, &widthBits);
}

bool StaticBufrInfo::isReplicatedDescriptor(int descriptor) const
{
    return _replDescSet.find(descriptor);
}

bool StaticBufrInfo::isLocalDescriptor(int descriptor)
{
    return (descriptor / 1000) % 100 >= 48 || descriptor % 1000 >= 192;
}

bool StaticBufrInfo::isCodeOrFlagTable(const TextString& units)
{
    const std::string kind = BufrTableVersions::unitsKind(units);
    return kind == "CODE TABLE" || kind == "FLAG TABLE";
}

bool StaticBufrInfo::usesLocalEntries(int centre) const
{
    return _localCentres.count(centre) > 0;
}

std::string StaticBufrInfo::notLocalTo(int descriptor, int centre) const
{
    return "Descriptor " + std::to_string(descriptor) + " is local to its originating centre " +
           std::to_string(centre) + ", whose local table is not loaded.";
}

int StaticBufrInfo::tablesKey(const Origin& origin) const
{
    // Versions after the newest loaded read every descriptor as it does.
    int version = origin.masterTableVersion < 0 ? _versions.base() : origin.masterTableVersion;
    if (_versions.loaded() && version > _versions.last())
        version = _versions.last();
    const bool local = origin.centre < 0 || usesLocalEntries(origin.centre);
    return (version + 2) * 2 + (local ? 1 : 0);
}

bool StaticBufrInfo::baseCoding(int descriptor, ElementCoding& coding) const
{
    if (!getTableBCoding(descriptor, coding.scale, coding.reference, coding.width))
        return false;
    long widthBits = 0;
    coding.character = isCharacterElement(descriptor, widthBits);
    TableBEntry entry;
    coding.codeOrFlag = getTableBEntry(descriptor, entry) && isCodeOrFlagTable(entry.getUnits());
    return true;
}

StaticBufrInfo::Source StaticBufrInfo::sourceFor(int descriptor, const Origin& origin,
                                                  std::string& why) const
{
    why.clear();
    if (isLocalDescriptor(descriptor)) {
        if (origin.centre < 0 || usesLocalEntries(origin.centre))
            return LOADED;
        why = notLocalTo(descriptor, origin.centre);
        return REFUSED;
    }
    const int version = origin.masterTableVersion;
    return version < 0 || version == _versions.base() ? LOADED : VERSIONS;
}

StaticBufrInfo::Lookup StaticBufrInfo::lookupOf(BufrTableVersions::Answer answer)
{
    return answer == BufrTableVersions::UNKNOWN ? NOT_KNOWN : NOT_DEFINED;
}

StaticBufrInfo::Lookup StaticBufrInfo::elementFor(int descriptor, const Origin& origin,
                                                  ElementCoding& coding, std::string& why) const
{
    const Source source = sourceFor(descriptor, origin, why);
    if (source == REFUSED)
        return NOT_DEFINED;
    if (source == VERSIONS) {
        TableBEntry entry;
        const bool known = getTableBEntry(descriptor, entry);
        const BufrTableVersions::Element base{entry.getUnits(), entry.getScale(),
                                              entry.getReference(), entry.getWidth()};
        const BufrTableVersions::Element* own = nullptr;
        const BufrTableVersions::Answer answer = _versions.element(
            descriptor, origin.masterTableVersion, known ? &base : nullptr, own, why);
        if (answer == BufrTableVersions::OWN) {
            coding.scale = own->scale;
            coding.reference = own->reference;
            coding.width = own->width;
            coding.character = BufrTableVersions::unitsKind(own->units) == "CCITT IA5";
            coding.codeOrFlag = isCodeOrFlagTable(own->units);
            return DEFINED;
        }
        if (answer != BufrTableVersions::BASE)
            return lookupOf(answer);
    }
    return baseCoding(descriptor, coding) ? DEFINED : NOT_DEFINED;
}

StaticBufrInfo::Lookup StaticBufrInfo::sequenceFor(int descriptor, const Origin& origin,
                                                   SeqOf<int>& elements, std::string& why) const
{
    const Source source = sourceFor(descriptor, origin, why);
    if (source == REFUSED)
        return NOT_DEFINED;
    if (source == VERSIONS) {
        SeqOf<int> base;
        const bool known = getTableD(descriptor, base);
        const SeqOf<int>* own = nullptr;
        const BufrTableVersions::Answer answer = _versions.sequence(
            descriptor, origin.masterTableVersion, known ? &base : nullptr, own, why);
        if (answer == BufrTableVersions::OWN) {
            elements = *own;
            return DEFINED;
        }
        if (answer != BufrTableVersions::BASE)
            return lookupOf(answer);
    }
    return getTableD(descriptor, elements) ? DEFINED : NOT_DEFINED;
}

TextString StaticBufrInfo::homePath(const TextString& file)
{
    const char* home = std::getenv("QEV_HOME");
    return TextString(home ? home : "") + file;
}

std::string StaticBufrInfo::homeUnsetNote()
{
    return unsetNote("QEV_HOME");
}

void StaticBufrInfo::makeDataPaths(const TextString& dir1, const TextString& dir2,
                                   TextString& path1, TextString& path2)
{
    const char* data = std::getenv("QEV_DATA");
    TextString root(data ? data : "");
    path1 = root + dir1;
    path2 = root + dir2;
}
