#include "BufrWriter.h"

#include "findBufrMessages.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

uint64_t allOnes(int width)
{
    return width >= 64 ? ~uint64_t(0) : (uint64_t(1) << width) - 1;
}

std::string descText(int d)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06d", d);
    return buf;
}

void put(BufrWriter::Bytes& out, uint64_t value, int octets)
{
    for (int i = octets - 1; i >= 0; --i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A section: the 3-octet length, then the body; edition 3 pads each section
// to an even number of octets.
void appendSection(BufrWriter::Bytes& out, BufrWriter::Bytes body, int edition)
{
    if (edition < 4 && (body.size() + 3) % 2 != 0)
        body.push_back(0);
    put(out, body.size() + 3, 3);
    out.insert(out.end(), body.begin(), body.end());
}

} // namespace

BufrWriter::BufrWriter(int edition, const std::string& tableBPath) : _edition(edition)
{
    // Lines FXXYYY|name|units|scale|reference|width; others are passed over.
    // The table of a path is read once per process.
    static std::map<std::string, std::map<int, Element> > cache;
    std::string path = tableBPath.empty() ? std::string(QEV_SOURCE_DIR) + "/data/bufrTableB"
                                          : tableBPath;
    std::ifstream in;
    if (cache.count(path)) {
        _table = cache[path];
    } else if (in.open(path.c_str()), !in) {
        fail("cannot read table B " + path);
    } else {
        for (std::string line; std::getline(in, line);) {
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string field; std::getline(fields, field, '|');)
                f.push_back(field.substr(0, field.find_last_not_of(" \r") + 1));
            if (f.size() == 6 && f[0].size() == 6)
                _table[std::atoi(f[0].c_str())] = Element{f[2], std::atoi(f[3].c_str()),
                                                          std::atoi(f[4].c_str()),
                                                          std::atoi(f[5].c_str())};
        }
        cache[path] = _table;
    }
    if (edition != 3 && edition != 4)
        fail("edition " + std::to_string(edition) + " is not written");
}

double BufrWriter::missingValue()
{
    return std::numeric_limits<double>::quiet_NaN();
}

bool BufrWriter::fail(const std::string& what)
{
    if (_error.empty())
        _error = what;
    return false;
}

void BufrWriter::put(uint64_t value, int width)
{
    // Fields wider than 64 bits (character data, missing after a 2 01
    // widening) are all ones when the value is, else zero above bit 63.
    const bool ones = value == ~uint64_t(0);
    for (int i = width - 1; i >= 0; --i) {
        if (_used == 8) {
            _data.push_back(0);
            _used = 0;
        }
        if (i >= 64 ? ones : ((value >> i) & 1))
            _data.back() |= static_cast<unsigned char>(0x80 >> _used);
        ++_used;
    }
}

void BufrWriter::putText(const std::string& text, int octets)
{
    for (int i = 0; i < octets; ++i)
        put(i < static_cast<int>(text.size()) ? static_cast<unsigned char>(text[i]) : ' ', 8);
}

BufrWriter& BufrWriter::localElement(int descriptor, int scale, int reference, int width,
                                     const std::string& units)
{
    _table[descriptor] = Element{units, scale, reference, width};
    return *this;
}

BufrWriter& BufrWriter::subsets(int count)
{
    if (count < 0 || count > 65535)
        fail("subset count " + std::to_string(count) + " out of range");
    _subsets = count;
    return *this;
}

BufrWriter& BufrWriter::descriptors(const std::vector<int>& list)
{
    for (int d : list)
        if (d < 0 || d / 100000 > 3 || (d / 1000) % 100 > 63 || d % 1000 > 255)
            fail("descriptor " + std::to_string(d) + " cannot be written");
    _descriptors = list;
    return *this;
}

BufrWriter& BufrWriter::op(int descriptor)
{
    int y = descriptor % 1000;
    if (descriptor / 100000 != 2) {
        fail("op() of " + descText(descriptor) + ", which is no operator");
        return *this;
    }
    switch ((descriptor / 1000) % 100) {
    case 1: _widthDelta = y ? y - 128 : 0; break;
    case 2: _scaleDelta = y ? y - 128 : 0; break;
    case 3:
        if (y == 0)
            _newReferences.clear();
        _referenceBits = (y == 255) ? 0 : y;
        break;
    case 4: _assocWidth = y; break;
    case 7: _increase207 = y; break;
    case 8: _textWidth208 = 8 * y; break;
    default: break;     // 2 05, 2 06 and others: the test writes their data
    }
    return *this;
}

BufrWriter& BufrWriter::newReference(int descriptor, long reference)
{
    if (_referenceBits <= 0) {
        fail("newReference() outside a 2 03 YYY definition");
        return *this;
    }
    unsigned long magnitude = reference < 0 ? -static_cast<unsigned long>(reference) : reference;
    if (_referenceBits > 63 || magnitude >= (uint64_t(1) << (_referenceBits - 1))) {
        fail("reference " + std::to_string(reference) + " does not fit "
             + std::to_string(_referenceBits) + " bits");
        return *this;
    }
    put((reference < 0 ? uint64_t(1) << (_referenceBits - 1) : 0) | magnitude, _referenceBits);
    if (_compressed)
        put(0, 6);
    _newReferences[descriptor] = reference;
    return *this;
}

bool BufrWriter::form(const char* call, bool inCompressed)
{
    if (_compressed == inCompressed)
        return true;
    return fail(std::string(call) + (_compressed ? "() in a compressed message"
                                                 : "() in a message that is not compressed"));
}

bool BufrWriter::coding(const char* call, bool inCompressed, int descriptor, Kind kind,
                        Coding& c)
{
    if (!form(call, inCompressed))
        return false;
    std::map<int, Element>::const_iterator e = _table.find(descriptor);
    if (e == _table.end())
        return fail("descriptor " + descText(descriptor) + " is not in table B");
    static_cast<Element&>(c) = e->second;
    c.text = c.units.compare(0, 9, "CCITT IA5") == 0;
    if (kind != Either && c.text != (kind == Chars))
        return fail(std::string(call) + "() of the " + (c.text ? "character" : "numeric")
                    + " element " + descText(descriptor));
    if (c.text) {
        if (_textWidth208)
            c.width = _textWidth208;
        return true;
    }
    if (c.units.compare(0, 10, "CODE TABLE") == 0 || c.units.compare(0, 10, "FLAG TABLE") == 0
        || (descriptor / 1000) % 100 == 31)
        return true;
    std::map<int, long>::const_iterator ref = _newReferences.find(descriptor);
    if (ref != _newReferences.end())
        c.reference = ref->second;
    c.scale += _scaleDelta + _increase207;
    c.width += _widthDelta + (10 * _increase207 + 2) / 3;
    for (int i = 0; i < _increase207; ++i)
        c.reference *= 10;
    if (c.width <= 0 || c.width > 64)
        return fail("width " + std::to_string(c.width) + " of " + descText(descriptor));
    return true;
}

bool BufrWriter::codeValue(int descriptor, double value, const Coding& c, uint64_t& coded)
{
    if (std::isnan(value)) {
        coded = allOnes(c.width);
        return true;
    }
    long long n = std::llround(value * std::pow(10.0, c.scale)) - c.reference;
    if (n < 0 || static_cast<uint64_t>(n) >= allOnes(c.width))
        return fail("value " + std::to_string(value) + " of " + descText(descriptor)
                    + " does not fit " + std::to_string(c.width) + " bits");
    coded = static_cast<uint64_t>(n);
    return true;
}

void BufrWriter::associatedField(int descriptor)
{
    if (_assocWidth <= 0 || (descriptor / 1000) % 100 == 31)
        return;
    put(_assocRaw & allOnes(_assocWidth), _assocWidth);
    if (_compressed)
        put(0, 6);
}

// A number, or missing (all ones, for character elements too).
BufrWriter& BufrWriter::element(int descriptor, double value)
{
    Coding c;
    uint64_t coded = 0;
    if (coding("element", false, descriptor, std::isnan(value) ? Either : Number, c)
        && codeValue(descriptor, value, c, coded)) {
        associatedField(descriptor);
        put(coded, c.width);
    }
    return *this;
}

BufrWriter& BufrWriter::chars(int descriptor, const std::string& text)
{
    Coding c;
    if (!coding("chars", false, descriptor, Chars, c))
        return *this;
    if (static_cast<int>(text.size()) > c.width / 8)
        fail("text \"" + text + "\" longer than " + descText(descriptor));
    else {
        associatedField(descriptor);
        putText(text, c.width / 8);
    }
    return *this;
}

// A delayed replication factor, with its table B width; in compressed data
// the one value of all subsets (NBINC 0).
void BufrWriter::putFactor(const char* call, bool inCompressed, int descriptor, unsigned count)
{
    Coding c;
    if (!coding(call, inCompressed, descriptor, Number, c))
        return;
    if (count >= allOnes(c.width)) {
        fail("factor " + std::to_string(count) + " does not fit " + descText(descriptor));
        return;
    }
    put(count, c.width);
    if (_compressed)
        put(0, 6);
}

BufrWriter& BufrWriter::bits(uint64_t value, int width)
{
    if (width < 0 || width > 64)
        fail("bits() of width " + std::to_string(width));
    else
        put(value, width);
    return *this;
}

BufrWriter& BufrWriter::text(const std::string& text, int octets)
{
    if (static_cast<int>(text.size()) > octets)
        fail("text \"" + text + "\" longer than " + std::to_string(octets) + " octets");
    else
        putText(text, octets);
    return *this;
}

BufrWriter& BufrWriter::column(int descriptor, const std::vector<double>& values)
{
    Coding c;
    if (!coding("column", true, descriptor, Number, c))
        return *this;
    if (static_cast<int>(values.size()) != _subsets) {
        fail("column() of " + descText(descriptor) + " with " + std::to_string(values.size())
             + " values for " + std::to_string(_subsets) + " subsets");
        return *this;
    }
    std::vector<uint64_t> codes(values.size());
    bool anyMissing = false, anyValue = false;
    uint64_t lo = 0, hi = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!codeValue(descriptor, values[i], c, codes[i]))
            return *this;
        if (std::isnan(values[i])) {
            anyMissing = true;
            continue;
        }
        lo = anyValue ? std::min(lo, codes[i]) : codes[i];
        hi = anyValue ? std::max(hi, codes[i]) : codes[i];
        anyValue = true;
    }
    associatedField(descriptor);
    if (!anyValue || (!anyMissing && lo == hi)) {
        put(anyValue ? lo : allOnes(c.width), c.width);
        put(0, 6);
        return *this;
    }
    // The smallest increment width that holds the largest increment and keeps
    // all ones free: an increment of all ones reads as missing, whether or
    // not an entry is missing.
    uint64_t need = hi - lo + 1;
    int nbinc = 1;
    while (nbinc < 64 && allOnes(nbinc) < need)
        ++nbinc;
    put(lo, c.width);
    put(nbinc, 6);
    for (std::size_t i = 0; i < values.size(); ++i)
        put(std::isnan(values[i]) ? allOnes(nbinc) : codes[i] - lo, nbinc);
    return *this;
}

void BufrWriter::putTextColumn(int octets, const std::vector<std::string>& texts)
{
    if (static_cast<int>(texts.size()) != _subsets) {
        fail("text column with " + std::to_string(texts.size()) + " texts for "
             + std::to_string(_subsets) + " subsets");
        return;
    }
    for (const std::string& t : texts)
        if (static_cast<int>(t.size()) > octets) {
            fail("text \"" + t + "\" longer than " + std::to_string(octets) + " octets");
            return;
        }
    if (!texts.empty() && std::count(texts.begin(), texts.end(), texts.front()) == _subsets) {
        putText(texts.front(), octets);
        put(0, 6);
        return;
    }
    put(0, 8 * octets);
    put(octets, 6);
    for (const std::string& t : texts)
        putText(t, octets);
}

BufrWriter& BufrWriter::charsColumn(int descriptor, const std::vector<std::string>& texts)
{
    Coding c;
    if (coding("charsColumn", true, descriptor, Chars, c)) {
        associatedField(descriptor);
        putTextColumn(c.width / 8, texts);
    }
    return *this;
}

BufrWriter& BufrWriter::textColumn(int octets, const std::vector<std::string>& texts)
{
    if (form("textColumn", true))
        putTextColumn(octets, texts);
    return *this;
}

BufrWriter& BufrWriter::rawColumn(int width, uint64_t r0, int nbinc,
                                  const std::vector<uint64_t>& increments)
{
    if (!form("rawColumn", true))
        return *this;
    if (width < 0 || width > 64 || nbinc < 0 || nbinc > 63) {
        fail("rawColumn() of width " + std::to_string(width) + ", NBINC " + std::to_string(nbinc));
        return *this;
    }
    put(r0, width);
    put(nbinc, 6);
    for (uint64_t inc : increments)
        put(inc, nbinc);
    return *this;
}

BufrWriter::Bytes BufrWriter::build() const
{
    if (!ok())
        return Bytes();
    const bool ed3 = _edition < 4;
    Bytes s1;
    ::put(s1, 0, 1);                        // master table 0
    ::put(s1, ed3 ? _subCentre << 8 | _centre : _centre << 16 | _subCentre, ed3 ? 2 : 4);
    ::put(s1, 0, 1);                        // update sequence number
    ::put(s1, _hasSection2 ? 0x80 : 0, 1);
    ::put(s1, _category, 1);
    if (!ed3)
        ::put(s1, _subCategory, 1);
    ::put(s1, _localSubCategory, 1);
    ::put(s1, _masterVersion, 1);
    ::put(s1, _localVersion, 1);
    ::put(s1, ed3 ? _time[0] % 100 : _time[0], ed3 ? 1 : 2);
    for (int i = 1; i < 5; ++i)
        ::put(s1, _time[i], 1);
    ::put(s1, ed3 ? 0 : _time[5], 1);       // edition 3: reserved octet 18

    Bytes s3;
    ::put(s3, 0, 1);
    ::put(s3, _subsets, 2);
    ::put(s3, (_observed ? 0x80 : 0) | (_compressed ? 0x40 : 0), 1);
    for (int d : _descriptors)
        ::put(s3, (d / 100000) << 14 | ((d / 1000) % 100) << 8 | d % 1000, 2);

    Bytes s4(1, 0);
    s4.insert(s4.end(), _data.begin(), _data.end());

    Bytes body;
    appendSection(body, s1, _edition);
    if (_hasSection2) {
        Bytes s2(1, 0);
        s2.insert(s2.end(), _section2.begin(), _section2.end());
        appendSection(body, s2, _edition);
    }
    appendSection(body, s3, _edition);
    appendSection(body, s4, _edition);

    Bytes msg = {'B', 'U', 'F', 'R'};
    ::put(msg, body.size() + 12, 3);
    ::put(msg, _edition, 1);
    msg.insert(msg.end(), body.begin(), body.end());
    msg.insert(msg.end(), {'7', '7', '7', '7'});
    return msg;
}

std::size_t BufrWriter::sectionOffset(const Bytes& m, int section)
{
    if (m.size() < 8 || std::string(m.begin(), m.begin() + 4) != "BUFR" || section < 0
        || section > 5)
        return npos;
    if (section == 0)
        return 0;
    const std::size_t flagAt = 8 + (m[7] < 4 ? 7 : 9);
    const bool hasSection2 = flagAt < m.size() && (m[flagAt] & 0x80);
    if (section == 2 && !hasSection2)
        return npos;
    std::size_t off = 8;
    for (int s = 1; s < section; ++s) {
        if (s == 2 && !hasSection2)
            continue;
        if (off + 3 > m.size())
            return npos;
        std::size_t len = std::size_t(m[off]) << 16 | std::size_t(m[off + 1]) << 8 | m[off + 2];
        if (len == 0)
            return npos;
        off += len;
    }
    return off < m.size() ? off : npos;
}

void BufrWriter::putUnsigned(Bytes& message, std::size_t offset, uint64_t value, int octets)
{
    for (int i = 0; i < octets; ++i)
        if (offset + i < message.size())
            message[offset + i] = static_cast<unsigned char>(value >> (8 * (octets - 1 - i)));
}

BufrWriter::Bytes BufrWriter::truncated(const Bytes& message, std::size_t size)
{
    return Bytes(message.begin(), message.begin() + std::min(size, message.size()));
}

BufrWriter::Bytes BufrWriter::withoutEndMarker(const Bytes& message)
{
    Bytes m = message;
    if (m.size() >= 4 && std::string(m.end() - 4, m.end()) == "7777")
        m.back() = '6';
    return m;
}

BufrWriter::Bytes BufrWriter::withHeader(const std::string& header, const Bytes& message)
{
    Bytes m(header.begin(), header.end());
    m.insert(m.end(), message.begin(), message.end());
    return m;
}

BufrWriter::Bytes BufrWriter::withPadding(const Bytes& file, const Bytes& padding)
{
    Bytes out;
    std::size_t copied = 0;
    for (const BufrMessageSpan& span : findBufrMessages(file.data(), file.size())) {
        Bytes m(file.begin() + static_cast<long>(span.offset),
                file.begin() + static_cast<long>(span.offset + span.length - 4));
        const std::size_t section4 = sectionOffset(m, 4);
        if (section4 == npos)
            continue;
        m.insert(m.end(), padding.begin(), padding.end());
        m.insert(m.end(), {'7', '7', '7', '7'});
        putUnsigned(m, 4, m.size(), 3);
        putUnsigned(m, section4, m.size() - 4 - section4, 3);
        out.insert(out.end(), file.begin() + static_cast<long>(copied),
                   file.begin() + static_cast<long>(span.offset));
        out.insert(out.end(), m.begin(), m.end());
        copied = span.offset + span.length;
    }
    out.insert(out.end(), file.begin() + static_cast<long>(copied), file.end());
    return out;
}

bool BufrWriter::writeFile(const std::string& path, const Bytes& content)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}
