// The run-time BUFR tables of data/ and the test-side BUFR writer.  The
// tables are read the way the decoder's loader reads them (whole lines); the
// writer's messages are checked bit by bit and against ecCodes' bufr_dump.
#include "BufrWriter.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

typedef BufrWriter::Bytes Bytes;
const double MISSING = BufrWriter::missingValue();

std::string dataPath(const char* name)
{
    return std::string(QEV_SOURCE_DIR) + "/data/" + name;
}

std::vector<std::string> readLines(const std::string& path)
{
    std::ifstream in(path.c_str());
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line + "\n");      // the loader keeps the newline
    return lines;
}

// strtok-style split: runs of '|' are one separator, no empty fields.
std::vector<std::string> tokens(const std::string& line)
{
    std::vector<std::string> out;
    std::string::size_type b = 0;
    while ((b = line.find_first_not_of('|', b)) != std::string::npos) {
        std::string::size_type e = line.find('|', b);
        out.push_back(line.substr(b, e == std::string::npos ? e : e - b));
        b = e;
    }
    return out;
}

long toLong(const std::string& s, bool& whole)
{
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    whole = end != s.c_str() && (*end == '\0' || std::strcmp(end, "\n") == 0);
    return v;
}

struct TableBRow {
    std::string description, units;
    long scale = 0, reference = 0, width = 0;
};

// Table B as the loader has it: six fields a line, a seventh (even the lone
// newline after a final '|') makes a broken group and so a corrupted line.
std::map<long, TableBRow> loadTableB(const std::string& path, std::vector<std::string>& bad)
{
    std::map<long, TableBRow> table;
    for (const std::string& line : readLines(path)) {
        std::vector<std::string> f = tokens(line);
        bool w0 = false, w3 = false, w4 = false, w5 = false;
        if (f.size() != 6) {
            bad.push_back(line);
            continue;
        }
        TableBRow row;
        long d = toLong(f[0], w0);
        row.description = f[1];
        row.units = f[2];
        row.scale = toLong(f[3], w3);
        row.reference = toLong(f[4], w4);
        row.width = toLong(f[5], w5);
        bool trimmed = row.description.find_last_not_of(' ') + 1 == row.description.size()
                       && row.units.find_last_not_of(' ') + 1 == row.units.size();
        if (!w0 || !w3 || !w4 || !w5 || !trimmed || f[0].size() != 6
            || tokens(line).size() != static_cast<size_t>(std::count(line.begin(), line.end(), '|') + 1))
            bad.push_back(line);
        table[d] = row;
    }
    return table;
}

// Table D: sequence, elements, and the final '|' whose newline field reads
// as 0 and ends the list.
std::map<long, std::vector<long>> loadTableD(const std::string& path, std::vector<std::string>& bad)
{
    std::map<long, std::vector<long>> table;
    for (const std::string& line : readLines(path)) {
        std::vector<std::string> f = tokens(line);
        bool whole = false;
        if (f.size() < 3 || f.back() != "\n") {
            bad.push_back(line);
            continue;
        }
        std::vector<long> elems;
        for (size_t i = 1; i + 1 < f.size(); ++i) {
            long e = toLong(f[i], whole);
            if (e == 0 || !whole || f[i].size() != 6)
                bad.push_back(line);
            elems.push_back(e);
        }
        table[toLong(f[0], whole)] = elems;
    }
    return table;
}

// ---- ecCodes as the oracle -------------------------------------------------

// A small JSON reader, lenient about the trailing commas bufr_dump writes.
struct Json {
    enum Kind { Null, Number, String, Array, Object } kind = Null;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json* get(const std::string& key) const
    {
        for (const auto& m : members)
            if (m.first == key)
                return &m.second;
        return nullptr;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& s) : _s(s) {}
    bool read(Json& out) { return value(out) && (skip(), _i == _s.size()); }

private:
    void skip() { while (_i < _s.size() && std::isspace(static_cast<unsigned char>(_s[_i]))) ++_i; }
    bool literal(const char* word)
    {
        size_t n = std::strlen(word);
        if (_s.compare(_i, n, word) != 0)
            return false;
        _i += n;
        return true;
    }
    bool string(std::string& out)
    {
        if (_s[_i++] != '"')
            return false;
        for (; _i < _s.size() && _s[_i] != '"'; ++_i) {
            if (_s[_i] == '\\')
                ++_i;
            out += _s[_i];
        }
        return _i++ < _s.size();
    }
    bool value(Json& out)
    {
        skip();
        if (_i >= _s.size())
            return false;
        char c = _s[_i];
        if (c == '{' || c == '[') {
            out.kind = c == '{' ? Json::Object : Json::Array;
            char close = c == '{' ? '}' : ']';
            ++_i;
            for (;;) {
                skip();
                if (_i < _s.size() && _s[_i] == close) {
                    ++_i;
                    return true;
                }
                Json item;
                if (out.kind == Json::Object) {
                    std::string key;
                    if (!string(key) || (skip(), _s[_i++] != ':') || !value(item))
                        return false;
                    out.members.emplace_back(key, item);
                } else {
                    if (!value(item))
                        return false;
                    out.items.push_back(item);
                }
                skip();
                if (_i < _s.size() && _s[_i] == ',')
                    ++_i;
            }
        }
        if (c == '"') {
            out.kind = Json::String;
            return string(out.text);
        }
        if (literal("null"))
            return true;
        char* end = nullptr;
        out.number = std::strtod(_s.c_str() + _i, &end);
        if (end == _s.c_str() + _i)
            return false;
        out.kind = Json::Number;
        _i = end - _s.c_str();
        return true;
    }

    const std::string& _s;
    size_t _i = 0;
};

// One value of bufr_dump: a number, a text (trailing blanks cut) or missing.
struct Value {
    enum Kind { Missing, Number, Text } kind;
    double number;
    std::string text;
};
Value num(double v) { return Value{Value::Number, v, ""}; }
Value txt(const std::string& t) { return Value{Value::Text, 0, t}; }
Value nil() { return Value{Value::Missing, 0, ""}; }

Value fromJson(const Json& j)
{
    if (j.kind == Json::Number)
        return num(j.number);
    if (j.kind == Json::String)
        return txt(j.text.substr(0, j.text.find_last_not_of(' ') + 1));
    return nil();
}

// An element of the dump: its code ("text" for 2 05 YYY data), its values
// (one per subset in compressed data, or one for all) and its coding.
struct Entry {
    std::string code;
    std::vector<Value> values;
    int scale = 0, reference = 0, width = 0;
};

void flatten(const Json& j, std::vector<Entry>& out)
{
    if (j.kind == Json::Array) {
        for (const Json& item : j.items)
            flatten(item, out);
        return;
    }
    if (j.kind != Json::Object)
        return;
    const Json* key = j.get("key");
    const Json* code = j.get("code");
    const Json* value = j.get("value");
    if (key && value && key->text != "subsetNumber") {
        Entry e;
        e.code = code ? code->text : key->text;
        if (value->kind == Json::Array)
            for (const Json& v : value->items)
                e.values.push_back(fromJson(v));
        else
            e.values.push_back(fromJson(*value));
        if (const Json* s = j.get("scale"))
            e.scale = static_cast<int>(s->number);
        if (const Json* r = j.get("reference"))
            e.reference = static_cast<int>(r->number);
        if (const Json* w = j.get("width"))
            e.width = static_cast<int>(w->number);
        out.push_back(e);
    }
    for (const auto& m : j.members)
        if (m.first != "value")
            flatten(m.second, out);     // associated fields and the messages list
}

std::string bufrDump()
{
    std::string path = QEV_BUFR_DUMP;
    return path.empty() || path.find("NOTFOUND") != std::string::npos
                   || !TempTree::exists(path) ? std::string() : path;
}

int run(const std::string& command, std::string& output)
{
    output.clear();
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return -1;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        output.append(buf, n);
    return pclose(p);
}

#define REQUIRE_ECCODES()                                                        \
    if (bufrDump().empty())                                                      \
        GTEST_SKIP() << "ecCodes' bufr_dump is not installed (libeccodes-tools)"

class BufrWriterEcCodes : public ::testing::Test {
protected:
    std::string save(const Bytes& msg, const char* name)
    {
        EXPECT_FALSE(msg.empty());
        std::string path = _tree.path(name);
        EXPECT_TRUE(BufrWriter::writeFile(path, msg));
        return path;
    }

    // bufr_dump -jf: the data elements in order.
    std::vector<Entry> dump(const Bytes& msg, const std::string& env = std::string())
    {
        std::string path = save(msg, "dump.bufr"), out;
        int rc = run(env + bufrDump() + " -jf " + path, out);
        EXPECT_EQ(0, rc) << out;
        Json json;
        EXPECT_TRUE(JsonReader(out).read(json)) << out;
        std::vector<Entry> entries;
        flatten(json, entries);
        return entries;
    }

    // Header keys through bufr_get -p.
    std::vector<std::string> keys(const Bytes& msg, const std::string& names)
    {
        std::string dir = bufrDump().substr(0, bufrDump().rfind('/') + 1);
        std::string path = save(msg, "keys.bufr"), out;
        EXPECT_EQ(0, run(dir + "bufr_get -p " + names + " " + path, out)) << out;
        std::istringstream in(out);
        std::vector<std::string> words;
        for (std::string w; in >> w;)
            words.push_back(w);
        return words;
    }

    TempTree _tree;
};

struct Want {
    std::string code;
    std::vector<Value> values;
};

void expectData(const std::vector<Entry>& got, const std::vector<Want>& want)
{
    ASSERT_EQ(want.size(), got.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("element " + std::to_string(i) + " " + want[i].code);
        EXPECT_EQ(want[i].code, got[i].code);
        std::vector<Value> g = got[i].values;
        if (g.size() == 1 && want[i].values.size() > 1)
            g.assign(want[i].values.size(), g[0]);     // compressed, all equal
        ASSERT_EQ(want[i].values.size(), g.size());
        for (size_t k = 0; k < g.size(); ++k) {
            const Value& w = want[i].values[k];
            EXPECT_EQ(w.kind, g[k].kind) << "value " << k;
            if (w.kind == Value::Number) {
                EXPECT_NEAR(w.number, g[k].number, 1e-9 * std::max(1.0, std::fabs(w.number)));
            } else if (w.kind == Value::Text) {
                EXPECT_EQ(w.text, g[k].text);
            }
        }
    }
}

// Independent check of a message's frame: total length, the chain of section
// lengths ending at "7777", and even sections in edition 3.
void expectFramed(const Bytes& m)
{
    ASSERT_GE(m.size(), 12u);
    EXPECT_EQ("BUFR", std::string(m.begin(), m.begin() + 4));
    EXPECT_EQ(m.size(), size_t(m[4]) << 16 | m[5] << 8 | m[6]);
    int edition = m[7];
    size_t at = 8;
    bool section2 = m[8 + (edition < 4 ? 7 : 9)] & 0x80;
    for (int s = 1; s <= 4; ++s) {
        if (s == 2 && !section2)
            continue;
        ASSERT_EQ(at, BufrWriter::sectionOffset(m, s));
        size_t len = size_t(m[at]) << 16 | m[at + 1] << 8 | m[at + 2];
        if (edition < 4) {
            EXPECT_EQ(0u, len % 2) << "section " << s;
        }
        at += len;
        ASSERT_LE(at + 4, m.size());
    }
    EXPECT_EQ(at, BufrWriter::sectionOffset(m, 5));
    EXPECT_EQ(m.size(), at + 4);
    EXPECT_EQ("7777", std::string(m.end() - 4, m.end()));
}

// The data octets of section 4, as a string of '0'/'1'.
std::string dataBits(const Bytes& m, size_t count)
{
    size_t at = BufrWriter::sectionOffset(m, 4) + 4;
    std::string bits;
    for (size_t i = 0; i < count; ++i)
        bits += (m[at + i / 8] >> (7 - i % 8)) & 1 ? '1' : '0';
    return bits;
}

std::string binary(uint64_t v, int width)
{
    std::string s;
    for (int i = width - 1; i >= 0; --i)
        s += (v >> i) & 1 ? '1' : '0';
    return s;
}

} // namespace

// ---- the tables ------------------------------------------------------------

TEST(BufrWriterTables, TableBLinesReadAsSixFieldsWithoutEmptyOnes)
{
    std::vector<std::string> bad;
    std::map<long, TableBRow> b = loadTableB(dataPath("bufrTableB"), bad);
    EXPECT_TRUE(bad.empty()) << bad.size() << " bad lines, first: " << bad.front();
    EXPECT_EQ(readLines(dataPath("bufrTableB")).size(), b.size());   // no descriptor twice
    ASSERT_TRUE(b.count(12101) && b.count(1015) && b.count(31001) && b.count(4001));
    EXPECT_EQ("K", b[12101].units);
    EXPECT_EQ(2, b[12101].scale);
    EXPECT_EQ(16, b[12101].width);
    EXPECT_EQ("CCITT IA5", b[1015].units);
    EXPECT_EQ(160, b[1015].width);
    EXPECT_EQ(8, b[31001].width);
    EXPECT_EQ("YEAR", b[4001].description);
}

TEST(BufrWriterTables, TableDLinesEndWithSeparatorAndNameKnownDescriptors)
{
    std::vector<std::string> badB, badD;
    std::map<long, TableBRow> b = loadTableB(dataPath("bufrTableB"), badB);
    std::map<long, std::vector<long>> d = loadTableD(dataPath("bufrTableD"), badD);
    EXPECT_TRUE(badD.empty()) << badD.size() << " bad lines, first: " << badD.front();
    EXPECT_EQ(readLines(dataPath("bufrTableD")).size(), d.size());
    EXPECT_EQ((std::vector<long>{4001, 4002, 4003}), d[301011]);

    size_t longest = 0;
    for (const auto& seq : d) {
        longest = std::max(longest, seq.second.size());
        for (long e : seq.second) {
            long f = e / 100000;
            EXPECT_TRUE(f == 1 || f == 2 || (f == 0 && b.count(e)) || (f == 3 && d.count(e)))
                << seq.first << " names unknown " << e;
        }
    }
    // Lines far longer than a 220-octet read buffer are kept whole.
    EXPECT_GT(longest * 7, 219u);
}

TEST(BufrWriterTables, ReplicationFactorFileReadsInSixOctetPieces)
{
    // Read as the loader does: fgets into 6 octets, first '|' field each.
    FILE* f = std::fopen(dataPath("replDescTbl").c_str(), "r");
    ASSERT_NE(nullptr, f);
    std::set<long> set;
    char buf[6];
    while (std::fgets(buf, sizeof buf, f))
        set.insert(std::strtol(buf, nullptr, 10));
    std::fclose(f);
    EXPECT_EQ((std::set<long>{0, 31000, 31001, 31002, 31011, 31012}), set);
}

TEST(BufrWriterTables, GeneratorReproducesTheCommittedFiles)
{
    const std::string wmo = "/usr/share/eccodes/definitions/bufr/tables/0/wmo/39";
    if (!TempTree::exists(wmo + "/element.table"))
        GTEST_SKIP() << "ecCodes' WMO master tables 39 are not installed (libeccodes-data)";
    TempTree tree;
    std::string out = tree.mkdirs("data"), log;
    ASSERT_EQ(0, run("python3 " + std::string(QEV_SOURCE_DIR) + "/scripts/make-bufr-tables --wmo "
                     + wmo + " --out " + out, log)) << log;
    for (const char* name : {"bufrTableB", "bufrTableD", "replDescTbl"})
        EXPECT_TRUE(TempTree::readFile(out + "/" + name) == TempTree::readFile(dataPath(name)))
            << name << " differs from a fresh generation";
}

// ---- the writer on its own -------------------------------------------------

TEST(BufrWriterFrame, Edition3SectionsSitWhereTheDecoderReadsThem)
{
    BufrWriter w(3);
    w.centre(7, 3).category(2, 0, 9).dateTime(2004, 3, 15, 12, 30).section2({0xAA, 0xBB, 0xCC})
        .subsets(10).compressed(true).descriptors({301011, 1001, 163255});
    w.column(4001, std::vector<double>(10, 2004));   // data content is not read here
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    expectFramed(m);
    EXPECT_EQ(3, m[7]);
    const unsigned char* s1 = &m[BufrWriter::sectionOffset(m, 1)];
    EXPECT_EQ(18, s1[2]);
    EXPECT_EQ(3, s1[4]);                 // sub-centre, then centre
    EXPECT_EQ(7, s1[5]);
    EXPECT_EQ(0x80, s1[7]);              // section 2 present
    EXPECT_EQ(2, s1[8]);
    EXPECT_EQ(9, s1[9]);
    EXPECT_EQ(39, s1[10]);
    EXPECT_EQ((std::vector<int>{4, 3, 15, 12, 30}), std::vector<int>(s1 + 12, s1 + 17));
    const unsigned char* s2 = &m[BufrWriter::sectionOffset(m, 2)];
    EXPECT_EQ(8, s2[2]);                 // 4 + 3, padded to even
    EXPECT_EQ(0xAA, s2[4]);
    const unsigned char* s3 = &m[BufrWriter::sectionOffset(m, 3)];
    EXPECT_EQ(14, s3[2]);                // 7 + 3 descriptors, padded to even
    EXPECT_EQ(0x00, s3[4]);
    EXPECT_EQ(0x0A, s3[5]);
    EXPECT_EQ(0xC0, s3[6]);              // observed, compressed
    EXPECT_EQ((std::vector<int>{0xC1, 0x0B, 0x01, 0x01, 0x7F, 0xFF}), std::vector<int>(s3 + 7, s3 + 13));
}

TEST(BufrWriterFrame, Edition4SectionOneHasFourDigitYearAndSeconds)
{
    BufrWriter w(4);
    w.centre(7, 300).category(2, 4, 5).masterTableVersion(13, 1).dateTime(2004, 3, 15, 12, 30, 45)
        .observed(false).descriptors({12101});
    w.element(12101, 273.15);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    expectFramed(m);
    EXPECT_EQ(BufrWriter::npos, BufrWriter::sectionOffset(m, 2));
    const unsigned char* s1 = &m[8];
    EXPECT_EQ(22, s1[2]);
    EXPECT_EQ((std::vector<int>{0, 7, 1, 44, 0, 0, 2, 4, 5, 13, 1, 0x07, 0xD4, 3, 15, 12, 30, 45}),
              std::vector<int>(s1 + 4, s1 + 22));
    const unsigned char* s3 = &m[BufrWriter::sectionOffset(m, 3)];
    EXPECT_EQ(9, s3[2]);                 // edition 4: no padding
    EXPECT_EQ(0x00, s3[6]);
    EXPECT_EQ(binary(27315, 16), dataBits(m, 16));
}

TEST(BufrWriterFrame, StandardDataBitsFollowTableBAndOperators)
{
    BufrWriter w(4);
    w.descriptors({12001, 1015, 12001, 201132, 12001, 201000, 204003, 31021, 12001, 204000,
                   203010, 12001, 203255});
    w.element(12001, 293.1).chars(1015, "AB").missing(12001)
        .op(201132).element(12001, 1.0).op(201000)
        .op(204003).associatedValue(5).element(31021, 1).element(12001, 0.2).op(204000)
        .op(203010).newReference(12001, -3).op(203255);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    std::string want = binary(2931, 12) + binary('A', 8) + binary('B', 8);
    for (int i = 0; i < 18; ++i)
        want += binary(' ', 8);
    want += std::string(12, '1')                         // missing
            + binary(10, 16)                             // 2 01 132: width 16
            + binary(1, 6)                               // 0 31 021: no associated field
            + binary(5, 3) + binary(2, 12)               // associated field, then the value
            + "1" + binary(3, 9);                        // 2 03 010: sign and magnitude
    EXPECT_EQ(want, dataBits(m, want.size()));
}

TEST(BufrWriterFrame, CompressedColumnsFollowTheIncrementRules)
{
    BufrWriter w(4);
    w.compressed(true).subsets(3)
        .descriptors({12001, 12001, 12001, 12001, 1015, 1015, 203010, 12001, 203255});
    w.column(12001, {273.1, 273.8, MISSING})
        .column(12001, {273.1, 273.1, 273.1})
        .column(12001, {MISSING, MISSING, MISSING})
        .column(12001, {0.0, 0.0, MISSING})
        .charsColumn(1015, {"X", "X", "X"})
        .charsColumn(1015, {"A", "BC", ""})
        .op(203010).newReference(12001, -3).op(203255);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    std::string pad19;
    for (int i = 0; i < 19; ++i)
        pad19 += binary(' ', 8);
    // An increment of 7 needs 3 bits, but all ones is kept for the missing entry.
    std::string want = binary(2731, 12) + binary(4, 6) + "0000" + "0111" + "1111"
                       + binary(2731, 12) + binary(0, 6)
                       + std::string(12, '1') + binary(0, 6)
                       + binary(0, 12) + binary(1, 6) + "0" + "0" + "1"
                       + binary('X', 8) + pad19 + binary(0, 6)
                       + std::string(160, '0') + binary(20, 6)
                       + binary('A', 8) + pad19
                       + binary('B', 8) + binary('C', 8) + pad19.substr(8)
                       + binary(' ', 8) + pad19
                       + "1" + binary(3, 9) + binary(0, 6);   // new reference, NBINC 0
    EXPECT_EQ(want, dataBits(m, want.size()));
}

TEST(BufrWriterFrame, MisuseFailsAndBuildsNothing)
{
    auto fails = [](BufrWriter& w, const char* what) {
        EXPECT_FALSE(w.ok()) << what;
        EXPECT_TRUE(w.build().empty()) << what;
    };
    BufrWriter a; a.element(63255, 1);                 fails(a, "unknown descriptor");
    BufrWriter b; b.element(12001, 1e6);               fails(b, "value too large");
    BufrWriter c; c.element(12001, -300);              fails(c, "value below the reference");
    BufrWriter d; d.chars(1015, std::string(21, 'x')); fails(d, "text too long");
    BufrWriter e; e.element(1015, 1);                  fails(e, "number for a text element");
    BufrWriter f; f.column(12001, {1});                fails(f, "column in standard data");
    BufrWriter g; g.compressed(true).subsets(2).column(12001, {1}); fails(g, "column too short");
    BufrWriter h; h.compressed(true).factor(31001, 1); fails(h, "factor in compressed data");
    BufrWriter i; i.newReference(12001, 1);            fails(i, "reference without 2 03");
    BufrWriter j; j.factor(31000, 1);                  fails(j, "factor 1 is all ones in 1 bit");
    BufrWriter k(5);                                   fails(k, "edition 5");
    BufrWriter l(4, "/nonexistent/bufrTableB");        fails(l, "no table");
    BufrWriter n; n.descriptors({364000});             fails(n, "X beyond 63");
}

TEST(BufrWriterFrame, HelpersDamageMessagesForFailureTests)
{
    BufrWriter w(3);
    w.descriptors({12101}).element(12101, 273.15);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok());
    Bytes broken = BufrWriter::withoutEndMarker(m);
    EXPECT_EQ("7776", std::string(broken.end() - 4, broken.end()));
    EXPECT_EQ(m.size() - 5, BufrWriter::truncated(m, m.size() - 5).size());
    EXPECT_EQ(m, BufrWriter::truncated(m, m.size() + 10));
    Bytes patched = m;
    BufrWriter::putUnsigned(patched, BufrWriter::sectionOffset(m, 4), 0x123456, 3);
    EXPECT_EQ(0x12, patched[BufrWriter::sectionOffset(m, 4)]);
    EXPECT_EQ(0x56, patched[BufrWriter::sectionOffset(m, 4) + 2]);
    BufrWriter::putUnsigned(patched, patched.size() - 1, 0xFFFF, 2);   // stays in range
    EXPECT_EQ(m.size(), patched.size());
    Bytes headed = BufrWriter::withHeader("IUSN01 KWBC 151200\r\r\n", m);
    EXPECT_EQ(m.size() + 21, headed.size());
    EXPECT_EQ(BufrWriter::npos, BufrWriter::sectionOffset(headed, 1));
    EXPECT_EQ(BufrWriter::npos, BufrWriter::sectionOffset(BufrWriter::truncated(m, 20), 4));

    TempTree tree;
    std::string path = tree.path("m.bufr");
    ASSERT_TRUE(BufrWriter::writeFile(path, headed));
    std::string back = TempTree::readFile(path);
    EXPECT_EQ(std::string(headed.begin(), headed.end()), back);
}

// ---- the writer against ecCodes --------------------------------------------

TEST_F(BufrWriterEcCodes, Edition4StandardSubsetsWithTextAndDelayedReplication)
{
    REQUIRE_ECCODES();
    BufrWriter w(4);
    w.centre(7, 0).category(2, 1, 0).dateTime(2004, 3, 15, 12, 30, 5).subsets(2)
        .descriptors({301011, 1015, 101000, 31001, 12101, 7004});
    w.element(4001, 2004).element(4002, 3).element(4003, 15).chars(1015, "STATION A")
        .factor(31001, 2).element(12101, 273.15).missing(12101).element(7004, 85000);
    w.element(4001, 2004).element(4002, 3).element(4003, 16).chars(1015, "B")
        .factor(31001, 0).element(7004, MISSING);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    expectFramed(m);
    EXPECT_EQ((std::vector<std::string>{"4", "7", "2", "1", "39", "2004", "3", "15", "12", "30", "5",
                                        "2", "1", "0"}),
              keys(m, "edition,bufrHeaderCentre,dataCategory,internationalDataSubCategory,"
                      "masterTablesVersionNumber,typicalYear,typicalMonth,typicalDay,typicalHour,"
                      "typicalMinute,typicalSecond,numberOfSubsets,observedData,compressedData"));
    expectData(dump(m), {{"004001", {num(2004)}}, {"004002", {num(3)}}, {"004003", {num(15)}},
                         {"001015", {txt("STATION A")}}, {"031001", {num(2)}},
                         {"012101", {num(273.15)}}, {"012101", {nil()}}, {"007004", {num(85000)}},
                         {"004001", {num(2004)}}, {"004002", {num(3)}}, {"004003", {num(16)}},
                         {"001015", {txt("B")}}, {"031001", {num(0)}}, {"007004", {nil()}}});
}

TEST_F(BufrWriterEcCodes, Edition3StandardWithSection2AndExtendedFactor)
{
    REQUIRE_ECCODES();
    BufrWriter w(3);
    w.centre(7, 4).category(0, 0, 7).dateTime(1999, 12, 31, 23, 59).section2({1, 2, 3, 4, 5})
        .descriptors({1001, 1002, 301011, 103000, 31002, 7004, 10009, 12101});
    w.element(1001, 72).element(1002, 520).element(4001, 1999).element(4002, 12).element(4003, 31)
        .factor(31002, 2)
        .element(7004, 100000).element(10009, 111).element(12101, 288.2)
        .element(7004, 85000).element(10009, 1500).element(12101, 280.4);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    expectFramed(m);
    EXPECT_EQ((std::vector<std::string>{"3", "7", "4", "1", "99", "12", "31", "23", "59", "7"}),
              keys(m, "edition,bufrHeaderCentre,bufrHeaderSubCentre,section2Present,"
                      "typicalYearOfCentury,typicalMonth,typicalDay,typicalHour,typicalMinute,"
                      "dataSubCategory"));
    expectData(dump(m), {{"001001", {num(72)}}, {"001002", {num(520)}}, {"004001", {num(1999)}},
                     {"004002", {num(12)}}, {"004003", {num(31)}}, {"031002", {num(2)}},
                     {"007004", {num(100000)}}, {"010009", {num(111)}}, {"012101", {num(288.2)}},
                     {"007004", {num(85000)}}, {"010009", {num(1500)}}, {"012101", {num(280.4)}}});
}

TEST_F(BufrWriterEcCodes, NestedDelayedReplication)
{
    REQUIRE_ECCODES();
    BufrWriter w(4);
    w.descriptors({104000, 31001, 7004, 101000, 31002, 12101});
    w.factor(31001, 2)
        .element(7004, 85000).factor(31002, 3).element(12101, 270).element(12101, 271.5).missing(12101)
        .element(7004, 70000).factor(31002, 0);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    expectData(dump(m), {{"031001", {num(2)}}, {"007004", {num(85000)}}, {"031002", {num(3)}},
                         {"012101", {num(270)}}, {"012101", {num(271.5)}}, {"012101", {nil()}},
                         {"007004", {num(70000)}}, {"031002", {num(0)}}});
}

TEST_F(BufrWriterEcCodes, CompressedNumbersTextsAndReplication)
{
    REQUIRE_ECCODES();
    for (int edition : {3, 4}) {
        SCOPED_TRACE("edition " + std::to_string(edition));
        BufrWriter w(edition);
        w.compressed(true).subsets(3).descriptors({1015, 1015, 5001, 12101, 101000, 31002, 7004});
        w.charsColumn(1015, {"SAME", "SAME", "SAME"})
            .charsColumn(1015, {"ALPHA", "B", "GAMMA RAY"})
            .column(5001, {45.5, -12.25, 0})
            .column(12101, {MISSING, 273.15, 250})
            .factorColumn(31002, 2)
            .column(7004, {50000, 50000, 50000})
            .column(7004, {MISSING, MISSING, MISSING});
        Bytes m = w.build();
        ASSERT_TRUE(w.ok()) << w.error();
        expectFramed(m);
        EXPECT_EQ((std::vector<std::string>{"3", "1", "1"}),
                  keys(m, "numberOfSubsets,observedData,compressedData"));
        expectData(dump(m), {{"001015", {txt("SAME"), txt("SAME"), txt("SAME")}},
                             {"001015", {txt("ALPHA"), txt("B"), txt("GAMMA RAY")}},
                             {"005001", {num(45.5), num(-12.25), num(0)}},
                             {"012101", {nil(), num(273.15), num(250)}},
                             {"031002", {num(2), num(2), num(2)}},
                             {"007004", {num(50000), num(50000), num(50000)}},
                             {"007004", {nil(), nil(), nil()}}});
    }
}

TEST_F(BufrWriterEcCodes, WidthScaleAndReferenceOperators)
{
    REQUIRE_ECCODES();
    BufrWriter w(4);
    w.descriptors({201132, 202129, 12101, 202000, 201000, 12101,
                   203012, 12101, 203255, 12101, 203000, 12101});
    w.op(201132).op(202129).element(12101, 273.156).op(202000).op(201000).element(12101, 250.5)
        .op(203012).newReference(12101, -1000).op(203255).element(12101, 5.25)
        .op(203000).element(12101, 250.75);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    std::vector<Entry> got = dump(m);
    expectData(got, {{"012101", {num(273.156)}}, {"012101", {num(250.5)}},
                     {"012101", {num(5.25)}}, {"012101", {num(250.75)}}});
    ASSERT_EQ(4u, got.size());
    EXPECT_EQ(20, got[0].width);
    EXPECT_EQ(3, got[0].scale);
    EXPECT_EQ(16, got[1].width);
    EXPECT_EQ(-1000, got[2].reference);
    EXPECT_EQ(0, got[3].reference);
}

TEST_F(BufrWriterEcCodes, AssociatedFieldCharactersAndIncreasedWidths)
{
    REQUIRE_ECCODES();
    BufrWriter w(4);
    w.descriptors({204007, 31021, 12101, 204000, 12101, 205010, 207002, 12101, 207000,
                   208004, 1015, 208000, 1015});
    w.op(204007).element(31021, 7).associatedValue(55).element(12101, 280.0).op(204000)
        .element(12101, 281.0)
        .op(205010).text("HELLO", 10)
        .op(207002).element(12101, 12.3456).op(207000)
        .op(208004).chars(1015, "ABCD").op(208000).chars(1015, "LONGERNAME");
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    std::vector<Entry> got = dump(m);
    expectData(got, {{"012101", {num(280)}}, {"999999", {num(55)}}, {"031021", {num(7)}},
                     {"012101", {num(281)}}, {"text", {txt("HELLO")}},
                     {"012101", {num(12.3456)}}, {"001015", {txt("ABCD")}},
                     {"001015", {txt("LONGERNAME")}}});
    ASSERT_EQ(8u, got.size());
    EXPECT_EQ(7, got[1].width);
    EXPECT_EQ(23, got[5].width);          // 16 + (10 * 2 + 2) / 3
    EXPECT_EQ(4, got[5].scale);
    EXPECT_EQ(32, got[6].width);
}

TEST_F(BufrWriterEcCodes, OperatorsInCompressedData)
{
    REQUIRE_ECCODES();
    BufrWriter w(4);
    w.compressed(true).subsets(2)
        .descriptors({201132, 202129, 12101, 202000, 201000, 204007, 31021, 12101, 204000,
                      205010, 207002, 12101, 207000, 208004, 1015, 208000});
    w.op(201132).op(202129).column(12101, {273.156, 1}).op(202000).op(201000)
        .op(204007).column(31021, {7, 7}).associatedValue(55).column(12101, {280, 281}).op(204000)
        .op(205010).textColumn(10, {"HELLO", "WORLD"})
        .op(207002).column(12101, {12.3456, 1}).op(207000)
        .op(208004).charsColumn(1015, {"AB", "CD"}).op(208000);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    expectData(dump(m), {{"012101", {num(273.156), num(1)}},
                         {"012101", {num(280), num(281)}}, {"999999", {num(55), num(55)}},
                         {"031021", {num(7), num(7)}}, {"text", {txt("HELLO"), txt("WORLD")}},
                         {"012101", {num(12.3456), num(1)}}, {"001015", {txt("AB"), txt("CD")}}});
}

TEST_F(BufrWriterEcCodes, LocalDescriptorFromATestTable)
{
    REQUIRE_ECCODES();
    // ecCodes finds a centre's local table by local table version, centre and
    // sub-centre; the test table goes in front of its own definitions.
    _tree.write("defs/bufr/tables/0/local/1/7/0/sequence.def", "");
    _tree.write("defs/bufr/tables/0/local/1/7/0/element.table",
                "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width\n"
                "048001|testLocalCount|long|TEST LOCAL COUNT|Numeric|1|-100|11|Numeric|0|4\n");
    BufrWriter w(4);
    w.centre(7, 0).masterTableVersion(39, 1).subsets(2).descriptors({48001, 12101});
    w.localElement(48001, 1, -100, 11, "NUMERIC", "TEST LOCAL COUNT");
    w.element(48001, -3.5).element(12101, 270).missing(48001).element(12101, 271);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok()) << w.error();
    expectFramed(m);
    std::string env = "ECCODES_DEFINITION_PATH=" + _tree.path("defs")
                      + ":/usr/share/eccodes/definitions ";
    expectData(dump(m, env), {{"048001", {num(-3.5)}}, {"012101", {num(270)}},
                              {"048001", {nil()}}, {"012101", {num(271)}}});
}

TEST_F(BufrWriterEcCodes, DamagedMessagesAreRejected)
{
    REQUIRE_ECCODES();
    BufrWriter w(4);
    w.descriptors({12101, 12101}).element(12101, 273.15).element(12101, 250);
    Bytes m = w.build();
    ASSERT_TRUE(w.ok());
    std::string out;
    Bytes longer = m;
    BufrWriter::putUnsigned(longer, BufrWriter::sectionOffset(m, 4), 40, 3);
    for (const Bytes& bad : {BufrWriter::truncated(m, m.size() - 6), longer}) {
        std::string path = save(bad, "bad.bufr");
        EXPECT_NE(0, run(bufrDump() + " -jf " + path, out)) << out;
    }
}
