// refusal_survey [--damaged] [PATH]...
//
// Measures the decoder's two rules that refuse a whole message for how it
// is framed rather than for what it says: the frame check (a message is
// read only when its frame is whole and no other whole frame begins inside
// it) and the check of what its data section holds after the last subset
// (refused only when that holds subsets' data), against ecCodes, an
// independent decoder, through its C API.
//
// Every file under each PATH (folders walked, MANIFEST.md, ref/ and
// eccodes-overlay/ left out; ../shared/corpus/bufr and ../shared/corpus/wide
// when no PATH is given) and the sample bulletins of every data type are
// read as the decoder process reads a file: message after message, each
// looked for where the one before it ends (inside it, when its frame was
// refused).  The survey prints the messages decoded, refused by each rule
// (the frame check by its reason) and failed otherwise; the messages whose
// data section ends in octets read as padding, by what those octets are;
// and every message refused by either rule that ecCodes reads whole
// (codes_handle_new_from_message, then "unpack"), each a bulletin lost.
// Whole frames the walk of a file never began a decode at are counted
// apart, with those ecCodes reads.
//
// --damaged adds, made from every message decoded, the messages the second
// rule is there to refuse and those it must read: copies whose section 3
// declares one and two subsets fewer (none, at the fewest), which must be
// refused; and copies whose data section ends in padding appended (1, 2, 4
// and 8 zero octets, 1 and 2 blanks, 1 and 4 octets of all ones, 87 of all
// ones, 87 blanks, the 51 octets a radiosonde message of the corpus ends
// in, and "BUFR" followed by octets that read as the start of a message),
// which must be read.  Padding appended follows the message's own.
//
// Exit status: 0 when no message ecCodes reads whole is refused by either
// rule, 1 when one is, 2 on a usage or set-up error.  The tables come from
// $QEV_HOME/data/ (the source tree's data/ when unset); ecCodes reads centre
// 7's local elements through the corpus's definitions overlay
// (../shared/corpus/bufr/eccodes-overlay/localdefs) unless
// ECCODES_DEFINITION_PATH is set.  The decoder's log goes to a scratch
// folder and is not shown.
#include "PlainBufrDecoder.h"
#include "SampleMakers.h"
#include "findBufrMessages.h"

#include "LogStream.h"

#include <eccodes.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
typedef std::vector<unsigned char> Bytes;

void noLog(const codes_context*, int, const char*) {}

// ecCodes reads the message whole: it makes a handle of its octets and
// unpacks its data section.
bool ecCodesReads(const unsigned char* data, std::size_t size)
{
    codes_handle* h = codes_handle_new_from_message(nullptr, data, size);
    if (!h)
        return false;
    const bool ok = codes_set_long(h, "unpack", 1) == CODES_SUCCESS;
    codes_handle_delete(h);
    return ok;
}

long readLength(const unsigned char* p)
{
    return (long(p[0]) << 16) | (long(p[1]) << 8) | p[2];
}

void writeLength(unsigned char* p, long n)
{
    p[0] = static_cast<unsigned char>(n >> 16);
    p[1] = static_cast<unsigned char>(n >> 8);
    p[2] = static_cast<unsigned char>(n);
}

// Where section 3 of a whole message begins.
std::size_t section3(const unsigned char* m)
{
    const std::size_t section1 = 8;
    const bool section2 = (m[section1 + (m[7] >= 4 ? 9 : 7)] & 0x80) != 0;
    const std::size_t after1 = section1 + static_cast<std::size_t>(readLength(m + section1));
    return section2 ? after1 + static_cast<std::size_t>(readLength(m + after1)) : after1;
}

// The reason of a refused frame, from the line that refused it.
std::string frameReason(const std::string& why)
{
    static const char* const reasons[] = {
        "is cut short: another message begins at octet",
        "is cut short: a whole message lies inside it",
        "is cut short: the data ends at octet",
        "does not end in \"7777\"",
        "octets declared: its sections end at octet",
        "bytes > remaining msg length",
        "is too short for its fields",
        "is not supported",
    };
    for (const char* r : reasons)
        if (why.find(r) != std::string::npos)
            return std::string("... ") + r + " ...";
    return why;
}

std::string octetsKind(const unsigned char* p, long n)
{
    const unsigned char first = p[0];
    if (std::all_of(p, p + n, [first](unsigned char c) { return c == first; })) {
        char kind[32];
        std::snprintf(kind, sizeof kind, "all 0x%02x", first);
        return kind;
    }
    return std::count(p, p + n, 0xFF) * 2 > n ? "mixed, mostly 0xff" : "mixed";
}

struct Count {
    long messages = 0;
    long ecCodesReads = 0;
};

struct Survey {
    long files = 0;
    long messages = 0;
    long decoded = 0;
    long failedOtherwise = 0;
    std::map<std::string, Count> frames;    // by reason
    Count oneMoreSubset;
    std::map<std::string, long> padding;    // decoded, by what the octets are
    std::map<long, long> paddingOctets;
    std::map<std::string, Count> notReached;    // by file
    std::vector<std::string> lost;
    // --damaged
    struct Short {
        long messages = 0;
        long refused = 0;    // for subsets' data left
        long failed = 0;     // otherwise
        std::vector<std::string> read;
    };
    std::map<std::string, Short> shortened;    // by subsets fewer and form
    std::map<std::string, Count> padded;    // tried, refused
    std::map<std::string, std::vector<std::string>> paddedRefused;
};

class Surveyor {
public:
    explicit Surveyor(bool damaged) : _damaged(damaged) {}

    void file(const std::string& name, const Bytes& bytes)
    {
        ++_s.files;
        const unsigned char* data = bytes.data();
        const long size = static_cast<long>(bytes.size());
        std::set<long> begun;
        for (long at = 0; at >= 0 && at < size; at = _decoder.nextMessage()) {
            const bool ok = _decoder.decode(data, static_cast<unsigned>(size),
                                            static_cast<unsigned>(at));
            const long start = _decoder.messageStart();
            if (start < 0)
                break;
            begun.insert(start);
            ++_s.messages;
            const std::string where = name + " at octet " + std::to_string(start);
            const long available = size - start;
            const long declared = available >= 8 ? readLength(data + start + 4) : available;
            const std::size_t span = static_cast<std::size_t>(std::min(declared, available));
            if (ok) {
                ++_s.decoded;
                const long left = _decoder.octetsAfterSubsets();
                if (left > 0) {
                    ++_s.padding[octetsKind(data + start + declared - 4 - left, left)];
                    ++_s.paddingOctets[left];
                }
                if (_damaged)
                    damaged(where, data + start, static_cast<std::size_t>(declared));
                continue;
            }
            Count* rule = nullptr;
            if (!_decoder.frameWhole())
                rule = &_s.frames[frameReason(_decoder.decodeFailure().c_str())];
            else if (_decoder.moreSubsetsLeft())
                rule = &_s.oneMoreSubset;
            if (!rule) {
                ++_s.failedOtherwise;
                continue;
            }
            ++rule->messages;
            if (ecCodesReads(data + start, span)) {
                ++rule->ecCodesReads;
                _s.lost.push_back(where + ": " +
                                  (_decoder.frameWhole() ? std::string("subsets' data left")
                                                         : _decoder.decodeFailure().c_str()));
            }
        }
        for (const BufrMessageSpan& m : findBufrMessages(data, bytes.size())) {
            if (begun.count(static_cast<long>(m.offset)))
                continue;
            Count& c = _s.notReached[name];
            ++c.messages;
            if (ecCodesReads(data + m.offset, m.length))
                ++c.ecCodesReads;
        }
    }

    const Survey& result() const { return _s; }

private:
    // Copies of a decoded message that the padding rule must refuse (one
    // subset fewer declared) and read (padding appended).
    void damaged(const std::string& where, const unsigned char* m, std::size_t length)
    {
        const bool compressed = _decoder.compressed();
        const std::size_t s3 = section3(m);
        const int subsets = (m[s3 + 4] << 8) | m[s3 + 5];
        for (int fewer = 1; fewer <= 2 && fewer <= subsets; ++fewer) {
            Bytes copy(m, m + length);
            copy[s3 + 4] = static_cast<unsigned char>((subsets - fewer) >> 8);
            copy[s3 + 5] = static_cast<unsigned char>(subsets - fewer);
            Survey::Short& f = _s.shortened[std::to_string(fewer) + " fewer, " +
                                            (compressed ? "compressed" : "standard")];
            ++f.messages;
            if (_other.decode(copy.data(), static_cast<unsigned>(copy.size())))
                f.read.push_back(where + " (" + std::to_string(subsets) + " subsets)");
            else if (_other.moreSubsetsLeft())
                ++f.refused;
            else
                ++f.failed;
        }
        const std::size_t s4 = s3 + static_cast<std::size_t>(readLength(m + s3));
        const struct {
            int count;
            unsigned char octet;
        } pads[] = {{1, 0},    {2, 0},    {4, 0},    {8, 0},     {1, 0x20},
                    {2, 0x20}, {1, 0xFF}, {4, 0xFF}, {87, 0xFF}, {87, 0x20}};
        for (const auto& p : pads) {
            char kind[64];
            std::snprintf(kind, sizeof kind, "%d octet%s 0x%02x", p.count, p.count == 1 ? "" : "s",
                          p.octet);
            padded(where, kind, m, length, s4, Bytes(static_cast<std::size_t>(p.count), p.octet));
        }
        // The octets a radiosonde message of the corpus (pdbufr's temp.bufr)
        // ends in after its last subset.
        Bytes tail = {0x16, 0x4F};
        tail.insert(tail.end(), 44, 0xFF);
        tail.insert(tail.end(), {0x00, 0x62, 0x0A, 0x00, 0x00});
        padded(where, "the 51 octets of a radiosonde's padding", m, length, s4, tail);
        // "BUFR" in its data, followed by octets that read as the start of a
        // message of 32,390 octets (edition 4, section 1 of 12,695).
        padded(where, "\"BUFR\" and a section 0 and 1", m, length, s4,
               Bytes{'B', 'U', 'F', 'R', 0x00, 0x7E, 0x86, 0x04, 0x00, 0x31, 0x97});
    }

    // The message with `pad` appended to its data section (section 4 at
    // s4); counted as read or refused by the kind of padding.
    void padded(const std::string& where, const std::string& kind, const unsigned char* m,
                std::size_t length, std::size_t s4, const Bytes& pad)
    {
        Bytes longer(m, m + length - 4);
        longer.insert(longer.end(), pad.begin(), pad.end());
        longer.insert(longer.end(), {'7', '7', '7', '7'});
        if (longer.size() > 0xFFFFFF)
            return;
        writeLength(&longer[4], static_cast<long>(longer.size()));
        writeLength(&longer[s4], readLength(m + s4) + static_cast<long>(pad.size()));
        const std::string key = (_decoder.compressed() ? "compressed, " : "standard, ") + kind;
        Count& c = _s.padded[key];
        ++c.messages;
        if (!_other.decode(longer.data(), static_cast<unsigned>(longer.size()))) {
            ++c.ecCodesReads;
            if (_s.paddedRefused[key].size() < 3)
                _s.paddedRefused[key].push_back(where + " (" + _other.decodeFailure().c_str() +
                                                ")");
        }
    }

    bool _damaged;
    PlainBufrDecoder _decoder;
    PlainBufrDecoder _other;
    Survey _s;
};

bool readFile(const std::string& path, Bytes& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void walkPath(const fs::path& path, std::vector<std::string>& files)
{
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) {
        files.push_back(path.string());
        return;
    }
    std::vector<fs::path> entries;
    for (const auto& e : fs::directory_iterator(path, ec))
        entries.push_back(e.path());
    std::sort(entries.begin(), entries.end());
    for (const fs::path& e : entries) {
        const std::string n = e.filename().string();
        if (n.empty() || n[0] == '.' || n == "MANIFEST.md" || n == "ref" || n == "eccodes-overlay")
            continue;
        walkPath(e, files);
    }
}

void report(const Survey& s, long samples, bool damaged)
{
    long frames = 0;
    for (const auto& f : s.frames)
        frames += f.second.messages;
    std::printf("%ld files (%ld of them sample bulletins), %ld messages: %ld decoded, %ld refused by "
                "the frame check, %ld refused for subsets' data left, %ld failed otherwise\n",
                s.files, samples, s.messages, s.decoded, frames, s.oneMoreSubset.messages,
                s.failedOtherwise);
    std::printf("refused by the frame check, by reason:\n");
    for (const auto& f : s.frames)
        std::printf("  %7ld (ecCodes reads %ld whole)  %s\n", f.second.messages,
                    f.second.ecCodesReads, f.first.c_str());
    std::printf("refused for subsets' data left: %ld (ecCodes reads %ld whole)\n",
                s.oneMoreSubset.messages, s.oneMoreSubset.ecCodesReads);
    long padded = 0;
    for (const auto& p : s.padding)
        padded += p.second;
    std::printf("decoded with octets after the last subset read as padding: %ld\n", padded);
    for (const auto& p : s.padding)
        std::printf("  %7ld  %s\n", p.second, p.first.c_str());
    std::printf("  by octets:");
    for (const auto& p : s.paddingOctets)
        std::printf(" %ld: %ld%s", p.first, p.second,
                    p.first == s.paddingOctets.rbegin()->first ? "\n" : ",");
    if (s.paddingOctets.empty())
        std::printf(" none\n");
    Count notReached;
    for (const auto& f : s.notReached) {
        notReached.messages += f.second.messages;
        notReached.ecCodesReads += f.second.ecCodesReads;
    }
    std::printf("whole frames (\"BUFR\" to \"7777\") no decode began at: %ld (ecCodes reads %ld "
                "whole)\n",
                notReached.messages, notReached.ecCodesReads);
    for (const auto& f : s.notReached)
        std::printf("  %7ld (ecCodes reads %ld whole)  %s\n", f.second.messages,
                    f.second.ecCodesReads, f.first.c_str());
    if (damaged) {
        std::printf("declaring subsets fewer (messages, refused for subsets' data left, failed "
                    "otherwise, read):\n");
        for (const auto& f : s.shortened) {
            std::printf("  %7ld %7ld %5ld %5zu  %s\n", f.second.messages, f.second.refused,
                        f.second.failed, f.second.read.size(), f.first.c_str());
            for (const std::string& r : f.second.read)
                std::printf("      read: %s\n", r.c_str());
        }
        std::printf("padding appended (messages, refused):\n");
        for (const auto& p : s.padded) {
            std::printf("  %7ld %5ld  %s", p.second.messages, p.second.ecCodesReads,
                        p.first.c_str());
            auto examples = s.paddedRefused.find(p.first);
            if (examples != s.paddedRefused.end())
                for (const std::string& e : examples->second)
                    std::printf("; %s", e.c_str());
            std::printf("\n");
        }
    }
    for (const std::string& l : s.lost)
        std::printf("lost: %s\n", l.c_str());
    std::printf("%zu messages that ecCodes reads whole are refused by the frame or padding check\n",
                s.lost.size());
}

} // namespace

int main(int argc, char** argv)
{
    bool damaged = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--damaged") {
            damaged = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "usage: refusal_survey [--damaged] [PATH]...\n");
            return 2;
        } else {
            paths.push_back(a);
        }
    }
    const std::string shared = QEV_SHARED_DIR;
    if (paths.empty())
        paths = {shared + "/corpus/bufr", shared + "/corpus/wide"};
    if (!std::getenv("QEV_HOME"))
        setenv("QEV_HOME", QEV_SOURCE_DIR, 1);
    const std::string overlay = shared + "/corpus/bufr/eccodes-overlay/localdefs";
    if (!std::getenv("ECCODES_DEFINITION_PATH") && fs::is_directory(overlay))
        setenv("ECCODES_DEFINITION_PATH", (overlay + ":/usr/share/eccodes/definitions").c_str(), 1);
    std::string scratch;
    if (!std::getenv("LOG_DIR")) {
        char tmpl[] = "/tmp/refusal_survey.XXXXXX";
        if (mkdtemp(tmpl)) {
            scratch = tmpl;
            setenv("LOG_DIR", tmpl, 1);
        }
    }
    // The decoder's lines go to its log files only.
    LogStream::setFilter("all", LogStream::TTY, ~0u, false);
    for (int sink = LogStream::FILE_SINK; sink <= LogStream::COLLECTIVE; ++sink)
        LogStream::setFilter("all", sink, LogStream::EVENT | LogStream::DEBUG | LogStream::VERBOSE,
                             false);
    codes_context_set_logging_proc(codes_context_get_default(), noLog);

    Surveyor surveyor(damaged);
    int status = 0;
    if (!BufrDecoder::tablesLoaded()) {
        std::fprintf(stderr, "refusal_survey: the tables under $QEV_HOME/data/ did not load\n");
        status = 2;
    }
    std::vector<std::string> files;
    for (const std::string& p : paths) {
        if (status == 0 && !fs::exists(p)) {
            std::fprintf(stderr, "refusal_survey: %s is not there\n", p.c_str());
            status = 2;
        }
        walkPath(p, files);
    }
    for (const std::string& f : files) {
        Bytes bytes;
        if (status == 0 && !readFile(f, bytes)) {
            std::fprintf(stderr, "refusal_survey: cannot read %s\n", f.c_str());
            status = 2;
        }
        if (status == 0)
            surveyor.file(f, bytes);
    }
    long samples = 0;
    SampleOptions options;
    options.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    for (const SampleMaker& maker : status == 0 ? sampleMakers() : std::vector<SampleMaker>()) {
        std::vector<SampleBulletin> bulletins;
        std::string error;
        if (!maker.make(options, bulletins, error)) {
            std::fprintf(stderr, "refusal_survey: the %s samples: %s\n", maker.type,
                         error.c_str());
            status = 2;
            break;
        }
        for (const SampleBulletin& b : bulletins) {
            surveyor.file(std::string("sample ") + maker.type + " " + b.name, b.bytes);
            ++samples;
        }
    }
    if (status == 0) {
        report(surveyor.result(), samples, damaged);
        status = surveyor.result().lost.empty() ? 0 : 1;
    }
    if (!scratch.empty()) {
        std::error_code ec;
        fs::remove_all(scratch, ec);
    }
    return status;
}
