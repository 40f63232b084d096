// Makes large compressed messages for the decoding benchmark from real
// ones: the first message of each file given, when its data are
// compressed, is written again with more subsets, subset s holding what
// subset s % n of the original holds (n its subsets).  Sections 0 to 3 are
// kept as they are but for the lengths and the number of subsets; in
// section 4 every column keeps its R0 and its increment width, and its
// increments are repeated.
//
//     tile_compressed OUTDIR COUNT[,COUNT...] FILE...
//
// writes OUTDIR/<file>.<COUNT>.bufr for every file and count (at most
// 65535 subsets, what section 3 holds).  The columns' widths come from
// ecCodes (its expanded descriptors, their types and widths), independent
// of the project's decoder; a message whose data section those widths do
// not account for exactly (operators ecCodes applies without listing them,
// associated fields) is passed over with a line saying so.  Each message
// made is then decoded by the project's decoder and checked against the
// original, value for value.
//
// Run it on a temporary folder, never inside the project:
//     build-rel/bench/tile_compressed /tmp/tiled 10000,30000 ../shared/corpus/bufr/ncep.352.bufr
//     QEV_BENCH_CORPUS=/tmp/tiled build-rel/bench/bench_decode_corpus
#include "PlainBufrDecoder.h"
#include "findBufrMessages.h"

#include "BufrValues.h"
#include "LogStream.h"

#include <eccodes.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
typedef std::vector<unsigned char> Bytes;

// One column of compressed data: R0 of `width` bits, a 6-bit increment
// width, then one increment per subset (of that many octets for text).
struct Column {
    int width;
    bool text;
};

class BitReader {
public:
    BitReader(const unsigned char* data, std::size_t bits) : _data(data), _bits(bits) {}
    bool take(int n, uint64_t& value)
    {
        if (n < 0 || n > 64 || _at + static_cast<std::size_t>(n) > _bits)
            return false;
        value = 0;
        for (int i = 0; i < n; ++i, ++_at)
            value = value << 1 | ((_data[_at >> 3] >> (7 - (_at & 7))) & 1u);
        return true;
    }
    std::size_t at() const { return _at; }
    void seek(std::size_t bit) { _at = bit; }
    std::size_t size() const { return _bits; }

private:
    const unsigned char* _data;
    std::size_t _bits;
    std::size_t _at = 0;
};

class BitWriter {
public:
    void put(uint64_t value, int n)
    {
        for (int i = n - 1; i >= 0; --i, ++_bits) {
            if ((_bits & 7) == 0)
                _out.push_back(0);
            if ((value >> i) & 1u)
                _out.back() |= static_cast<unsigned char>(0x80u >> (_bits & 7));
        }
    }
    // Copies `n` bits (n may exceed 64) from the reader at its position.
    bool copy(BitReader& in, std::size_t n)
    {
        for (; n > 0;) {
            const int chunk = n > 64 ? 64 : static_cast<int>(n);
            uint64_t v = 0;
            if (!in.take(chunk, v))
                return false;
            put(v, chunk);
            n -= static_cast<std::size_t>(chunk);
        }
        return true;
    }
    const Bytes& bytes() const { return _out; }

private:
    Bytes _out;
    std::size_t _bits = 0;
};

unsigned long get3(const unsigned char* p)
{
    return static_cast<unsigned long>(p[0]) << 16 | static_cast<unsigned long>(p[1]) << 8 | p[2];
}

void put3(unsigned char* p, unsigned long v)
{
    p[0] = static_cast<unsigned char>(v >> 16);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v);
}

// The columns of the message as ecCodes expands its descriptors; false
// (with the reason) for what this tool does not tile.
bool columnsOf(const Bytes& message, std::vector<Column>& columns, std::string& why)
{
    codes_handle* h = codes_handle_new_from_message(nullptr, message.data(), message.size());
    if (!h) {
        why = "ecCodes does not read it";
        return false;
    }
    bool ok = codes_set_long(h, "unpack", 1) == CODES_SUCCESS;
    std::size_t n = 0;
    ok = ok && codes_get_size(h, "expandedDescriptors", &n) == CODES_SUCCESS;
    std::vector<long> codes(n), widths(n);
    std::size_t nc = n, nw = n, nt = n;
    ok = ok && codes_get_long_array(h, "expandedDescriptors", codes.data(), &nc) == CODES_SUCCESS &&
         codes_get_long_array(h, "expandedOriginalWidths", widths.data(), &nw) == CODES_SUCCESS;
    std::vector<char*> types(n, nullptr);
    std::vector<std::string> typeText(n);
    if (ok) {
        // The types as texts: "string" for a CCITT IA5 element.
        std::vector<std::vector<char> > storage(n, std::vector<char>(32));
        for (std::size_t i = 0; i < n; ++i)
            types[i] = storage[i].data();
        ok = codes_get_string_array(h, "expandedTypes", types.data(), &nt) == CODES_SUCCESS;
        for (std::size_t i = 0; ok && i < nt; ++i)
            typeText[i] = types[i];
    }
    codes_handle_delete(h);
    if (!ok || nc != n || nw != n || nt != n) {
        why = "ecCodes does not expand its descriptors";
        return false;
    }
    columns.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const long f = codes[i] / 100000;
        const long x = codes[i] / 1000 % 100;
        const long y = codes[i] % 1000;
        if (f == 1)
            continue;    // a replication: its factor is a column of its own
        if (f == 2) {
            // Bitmaps and quality operators carry no data of their own; the
            // substituted-value markers (2 23 255 ...) and every operator
            // that changes a coding do.
            if (x >= 22 && x <= 37 && y == 0)
                continue;
            why = "operator " + std::to_string(codes[i]) + " in its data";
            return false;
        }
        columns.push_back(Column{static_cast<int>(widths[i]), typeText[i] == "string"});
    }
    return true;
}

// Section 4 of `count` subsets from the original one of `subsets`; false
// (with the reason) when the columns do not account for the data exactly.
bool tiledData(const unsigned char* data, std::size_t octets, int subsets,
               const std::vector<Column>& columns, int count, Bytes& out, std::string& why)
{
    BitReader in(data, octets * 8);
    BitWriter w;
    for (const Column& c : columns) {
        // R0 (a text's may pass 64 bits), then the increment width.
        uint64_t nbinc = 0;
        if (!w.copy(in, static_cast<std::size_t>(c.width)) || !in.take(6, nbinc)) {
            why = "its data section ends before its columns";
            return false;
        }
        w.put(nbinc, 6);
        const std::size_t each = static_cast<std::size_t>(nbinc) * (c.text ? 8 : 1);
        if (each == 0)
            continue;
        const std::size_t first = in.at();
        if (first + each * static_cast<std::size_t>(subsets) > in.size()) {
            why = "its data section ends before its columns";
            return false;
        }
        for (int s = 0; s < count; ++s) {
            in.seek(first + each * static_cast<std::size_t>(s % subsets));
            w.copy(in, each);
        }
        in.seek(first + each * static_cast<std::size_t>(subsets));
    }
    // What is left is the padding to the section's end.
    if (in.size() - in.at() >= 16) {
        why = "its columns leave " + std::to_string(in.size() - in.at()) +
              " bits of its data section unread";
        return false;
    }
    out = w.bytes();
    return true;
}

// The message with `count` subsets, or none (with the reason).
Bytes tiled(const Bytes& m, int count, std::string& why)
{
    const int edition = m[7];
    std::size_t at = 8;
    if (edition < 2 || at + 3 > m.size()) {
        why = "edition " + std::to_string(edition);
        return Bytes();
    }
    const std::size_t s1 = at;
    const bool section2 = (m[s1 + (edition >= 4 ? 9 : 7)] & 0x80) != 0;
    at += get3(&m[s1]);
    if (section2)
        at += get3(&m[at]);
    const std::size_t s3 = at;
    if (s3 + 7 > m.size()) {
        why = "no section 3";
        return Bytes();
    }
    const int subsets = m[s3 + 4] << 8 | m[s3 + 5];
    if ((m[s3 + 6] & 0x40) == 0 || subsets < 1) {
        why = "its data are not compressed";
        return Bytes();
    }
    const std::size_t s4 = s3 + get3(&m[s3]);
    if (s4 + 4 > m.size() || s4 + get3(&m[s4]) + 4 > m.size()) {
        why = "no section 4";
        return Bytes();
    }
    std::vector<Column> columns;
    if (!columnsOf(m, columns, why))
        return Bytes();
    Bytes data;
    if (!tiledData(&m[s4 + 4], get3(&m[s4]) - 4, subsets, columns, count, data, why))
        return Bytes();

    Bytes out(m.begin(), m.begin() + static_cast<long>(s4));
    out[s3 + 4] = static_cast<unsigned char>(count >> 8);
    out[s3 + 5] = static_cast<unsigned char>(count);
    std::size_t length4 = 4 + data.size();
    if (edition < 4 && length4 % 2 != 0)
        data.push_back(0);    // sections of an even length
    length4 = 4 + data.size();
    const std::size_t at4 = out.size();
    out.resize(at4 + 4);
    put3(&out[at4], length4);
    out[at4 + 3] = 0;
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), {'7', '7', '7', '7'});
    if (out.size() > 0xFFFFFF) {
        why = "the message would pass the 16 MB a message can say";
        return Bytes();
    }
    put3(&out[4], out.size());
    return out;
}

// Whether the project's decoder gives each subset of the tiled message what
// it gives subset s % n of the original.
bool sameValues(const Bytes& original, const Bytes& made, std::string& why)
{
    PlainBufrDecoder d;
    if (!d.decode(original.data(), static_cast<unsigned>(original.size()))) {
        why = "the project's decoder does not decode the original";
        return false;
    }
    const SeqOf<BufrValues> before = d.getDecodedValues();
    const int n = d.subsets();
    if (!d.decode(made.data(), static_cast<unsigned>(made.size()))) {
        why = "the project's decoder does not decode the message made";
        return false;
    }
    const SeqOf<BufrValues>& after = d.getDecodedValues();
    const int perSubset = n > 0 ? before.length() / n : 0;
    if (perSubset * n != before.length() ||
        after.length() != static_cast<long>(perSubset) * d.subsets()) {
        why = "the message made has " + std::to_string(after.length()) + " values";
        return false;
    }
    for (int i = 0; i < after.length(); ++i) {
        const int s = i / perSubset;
        const BufrValues& a = after[i];
        const BufrValues& b = before[(s % n) * perSubset + i % perSubset];
        const bool same = a.getSubset() == s && a.getDescriptor() == b.getDescriptor() &&
                          a.getIndex() == b.getIndex() && a.getCharValue() == b.getCharValue() &&
                          (a.getValue() == b.getValue() || (a.getValue() != a.getValue() &&
                                                            b.getValue() != b.getValue()));
        if (!same) {
            why = "value " + std::to_string(i) + " differs from the original's";
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: tile_compressed OUTDIR COUNT[,COUNT...] FILE...\n");
        return 2;
    }
    if (!std::getenv("QEV_HOME"))
        setenv("QEV_HOME", QEV_SOURCE_DIR, 1);
    if (!std::getenv("LOG_DIR"))
        setenv("LOG_DIR", fs::temp_directory_path().c_str(), 1);
    for (int sink = LogStream::TTY; sink <= LogStream::COLLECTIVE; ++sink)
        LogStream::setFilter("all", sink, LogStream::EVENT | LogStream::DEBUG | LogStream::VERBOSE,
                             false);
    const fs::path outDir = argv[1];
    std::vector<int> counts;
    std::stringstream list(argv[2]);
    for (std::string item; std::getline(list, item, ',');) {
        const int c = std::atoi(item.c_str());
        if (c < 1 || c > 65535) {
            std::fprintf(stderr, "tile_compressed: %s subsets cannot be written\n", item.c_str());
            return 2;
        }
        counts.push_back(c);
    }
    std::error_code ec;
    fs::create_directories(outDir, ec);
    int made = 0;
    for (int i = 3; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::vector<BufrMessageSpan> spans = findBufrMessages(bytes.data(), bytes.size());
        const std::string name = fs::path(argv[i]).filename().string();
        if (spans.empty()) {
            std::fprintf(stderr, "%s: no BUFR message\n", name.c_str());
            continue;
        }
        const Bytes message(bytes.begin() + static_cast<long>(spans[0].offset),
                            bytes.begin() + static_cast<long>(spans[0].offset + spans[0].length));
        for (int count : counts) {
            std::string why;
            const Bytes out = tiled(message, count, why);
            if (out.empty() || !sameValues(message, out, why)) {
                std::fprintf(stderr, "%s: not tiled: %s\n", name.c_str(), why.c_str());
                break;
            }
            const fs::path path = outDir / (fs::path(name).stem().string() + "." +
                                            std::to_string(count) + ".bufr");
            std::ofstream o(path, std::ios::binary);
            o.write(reinterpret_cast<const char*>(out.data()), static_cast<long>(out.size()));
            if (!o) {
                std::fprintf(stderr, "%s: cannot write %s\n", name.c_str(), path.c_str());
                return 1;
            }
            std::printf("%s: %d subsets, %zu octets\n", path.c_str(), count, out.size());
            ++made;
        }
    }
    return made > 0 ? 0 : 1;
}
