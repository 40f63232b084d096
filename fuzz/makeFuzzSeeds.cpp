// Writes the seed corpora of the fuzz harnesses, one folder per harness
// under the folder given:
//
//     makeFuzzSeeds DIR      DIR/<harness>/<seed>, DIR/pending/<harness>/<input>,
//                            DIR/findings/<harness>/<input>
//
// The BUFR messages come from the tests' BUFR writer and the sample bulletin
// generator of each data type (tools/samples), the wire messages from
// the wire peer's codec (both independent of the code under test), the text
// files from the formats the readers document.  Regression inputs of fixed
// findings are seeds too (named "regression-..."), so every harness run
// replays them first.  An input of a finding whose fix has not landed yet
// goes to DIR/pending/, which the runs do not read.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BufrWriter.h"
#include "SampleMakers.h"
#include "WirePeer.h"
#include "fuzzFindings.h"

namespace fs = std::filesystem;

namespace {

typedef std::vector<unsigned char> Bytes;

fs::path outputDir;
bool failed = false;

void write(const std::string& folder, const std::string& name, const Bytes& bytes)
{
    const fs::path dir = outputDir / folder;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "makeFuzzSeeds: cannot write %s/%s\n", folder.c_str(), name.c_str());
        failed = true;
    }
}

void writeText(const std::string& folder, const std::string& name, const std::string& text)
{
    write(folder, name, Bytes(text.begin(), text.end()));
}

Bytes concat(const std::vector<Bytes>& parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A message the writer must be able to build.
Bytes built(const BufrWriter& w, const char* what)
{
    Bytes m = w.build();
    if (m.empty()) {
        std::fprintf(stderr, "makeFuzzSeeds: %s: %s\n", what, w.error().c_str());
        failed = true;
    }
    return m;
}

const double MISSING = BufrWriter::missingValue();

// ---- BUFR messages ----

std::vector<std::pair<std::string, Bytes> > bufrMessages()
{
    std::vector<std::pair<std::string, Bytes> > out;
    for (int edition : {3, 4}) {
        const std::string ed = "ed" + std::to_string(edition) + "-";
        {
            BufrWriter w(edition);
            w.category(2).dateTime(2004, 3, 15, 12, 0).subsets(1)
                .descriptors({301011, 101000, 31001, 12101});
            w.element(4001, 2004).element(4002, 3).element(4003, 15)
                .factor(31001, 2).element(12101, 273.15).element(12101, 270.0);
            out.emplace_back(ed + "replication", built(w, "replication"));
        }
        {
            BufrWriter w(edition);
            w.category(2).dateTime(1999, 12, 31, 23, 30)
                .subsets(2).descriptors({301011, 1015, 104000, 31001, 7004, 101000, 31002, 12101});
            w.element(4001, 1999).element(4002, 12).element(4003, 31).chars(1015, "STATION A")
                .factor(31001, 2).element(7004, 85000).factor(31002, 3).element(12101, 270)
                .element(12101, 271.5).missing(12101).missing(7004).factor(31002, 0);
            w.element(4001, 1999).element(4002, 12).element(4003, 30).chars(1015, "B")
                .factor(31001, 0);
            out.emplace_back(ed + "nested-replication", built(w, "nested replication"));
        }
        {
            BufrWriter w(edition);
            w.compressed(true).subsets(4)
                .descriptors({301011, 1015, 5002, 6002, 102000, 31002, 10004, 12101});
            w.column(4001, {2004, 2004, 2004, 2004}).column(4002, {3, 3, 3, 3})
                .column(4003, {15, 15, 15, 16})
                .charsColumn(1015, {"NORTH", "SOUTH", "EAST", ""})
                .column(5002, {45.5, -12.25, 0, MISSING})
                .column(6002, {-120.5, 7, MISSING, 179.99})
                .factorColumn(31002, 2)
                .column(10004, {101325, 100000, 99000, MISSING})
                .column(12101, {MISSING, MISSING, MISSING, MISSING})
                .column(10004, {85000, 85000, 85000, 85000})
                .column(12101, {273.15, 250, 300.5, 260});
            out.emplace_back(ed + "compressed", built(w, "compressed"));
        }
        {
            BufrWriter w(edition);
            w.section2({1, 2, 3, 4, 5, 6, 7, 8}).category(0).descriptors({1001, 1002});
            w.element(1001, 72).element(1002, 493);
            out.emplace_back(ed + "section2", built(w, "section 2"));
        }
    }
    // Every data description operator the decoder takes, in both forms.
    {
        BufrWriter w(4);
        w.descriptors({207001, 10004, 207000, 202130, 201131, 11002, 201000, 202000, 203016, 7004,
                       203255, 7004, 203000, 204005, 31021, 11001, 204000, 208010, 1015, 208000,
                       205004, 12101});
        w.op(207001).element(10004, 101325).op(207000).op(202130).op(201131)
            .element(11002, 12.5).op(201000).op(202000).op(203016).newReference(7004, -500)
            .op(203255).element(7004, 85000).op(203000).op(204005).element(31021, 1)
            .associatedValue(3).element(11001, 270).op(204000).op(208010).chars(1015, "KWBC")
            .op(208000).op(205004).text("SKIP", 4).element(12101, 288.15);
        out.emplace_back("operators", built(w, "operators"));
    }
    {
        BufrWriter w(3);
        w.compressed(true).subsets(3)
            .descriptors({207001, 10004, 207000, 203016, 7004, 203255, 7004, 203000, 208006,
                          1015, 208000, 201131, 202129, 11001, 202000, 201000});
        w.op(207001).column(10004, {101325, 100000, BufrWriter::missingValue()}).op(207000)
            .op(203016).newReference(7004, -500).op(203255).column(7004, {85000, 70000, 50000})
            .op(203000).op(208006).charsColumn(1015, {"KWBC", "EGRR", "RJTD"}).op(208000)
            .op(201131).op(202129).column(11001, {270, 90, 180}).op(202000).op(201000);
        out.emplace_back("operators-compressed", built(w, "compressed operators"));
    }
    {
        BufrWriter w(4);
        w.descriptors({105000, 31001, 7004, 102000, 31002, 12101, 11001, 101000, 31011, 13003});
        w.factor(31001, 2).element(7004, 85000).factor(31002, 1).element(12101, 273.15)
            .element(11001, 90);
        w.element(7004, 70000).factor(31002, 2).element(12101, 260).element(11001, 80)
            .element(12101, 261).element(11001, 85);
        w.factor(31011, 3).element(13003, 50).element(13003, 50).element(13003, 50);
        out.emplace_back("replication-kinds", built(w, "replication kinds"));
    }
    {
        BufrWriter w(4);
        w.descriptors({222000, 206020, 12101, 221002, 12101, 11001});
        w.op(222000).op(206020).bits(27315, 20).element(12101, 280).op(221002);
        out.emplace_back("skipped-data", built(w, "skipped data"));
    }
    {
        BufrWriter w(4);
        w.localElement(48001, 0, 0, 12).subsets(2).descriptors({48001, 12101});
        w.element(48001, 1000).element(12101, 273.15).missing(48001).element(12101, 250);
        out.emplace_back("local-element", built(w, "local element"));
    }

    // Messages framed as the system receives them: a bulletin header, two
    // messages in one file, and damaged ends.
    const Bytes plain = out.front().second;
    out.emplace_back("with-header", BufrWriter::withHeader("ISMC01 KWBC 151200\r\r\n", plain));
    out.emplace_back("two-messages", concat({plain, out[2].second}));
    out.emplace_back("truncated", BufrWriter::truncated(plain, plain.size() - 9));
    out.emplace_back("without-end-marker", BufrWriter::withoutEndMarker(plain));
    return out;
}

// Regression inputs of the decoder harness's findings, each now failing its
// message with a logged reason.  In compressed data an increment width
// (NBINC) far beyond the element's own width, so that R0 plus the increment
// passes 2^63 before the reference value is added.
Bytes compressedIncrementOverflow()
{
    BufrWriter w(4);
    w.compressed(true).subsets(2).descriptors({5001});
    w.rawColumn(25, 0x100, 63, {0x7FFFFFFFFFFFFFFEull, 0});
    return built(w, "compressed increment overflow");
}

// 2 07 YYY multiplies the reference value by 10^YYY: with YYY 13 the
// reference of 0 05 001 (-9000000) no longer fits 64 bits.  The element's
// bits are written raw, since they are more than the writer codes.
Bytes scaleIncreaseReferenceOverflow()
{
    BufrWriter w(4);
    w.descriptors({207013, 5001, 207000});
    w.bits(0, 64).bits(0, 5);
    return built(w, "2 07 reference overflow");
}

// 2 03 YYY in compressed data: the new reference value plus the first of the
// increments that follow it passes the range of an int.
Bytes compressedNewReferenceOverflow()
{
    BufrWriter w(4);
    w.compressed(true).subsets(1).descriptors({203016, 12101, 203255, 12101, 203000});
    w.bits(11, 16).bits(31, 6).bits(0x7FFFFFFF, 31).bits(0, 16).bits(0, 6);
    return built(w, "compressed new reference overflow");
}

// ---- The storing harness ----

// The decoders of the storing harness in their registration order, with
// their file-name designators (fuzz/CMakeLists.txt).
struct StoreDecoder {
    std::string name;
    std::vector<std::string> designators;
};

#define QEV_STORE_DECODER(Class, ...) {#Class, {__VA_ARGS__}},
const std::vector<StoreDecoder> storeDecoders = {
#include "storeDecoderTable.inc"
};
#undef QEV_STORE_DECODER

// The selector byte of a decoder and the designator a file name begins with
// (see StoreBulletinsFuzz.cpp): the designator of the name's first six
// characters, else the first of the name's prefix (its first four); -1 when
// the decoder has neither.
int storeSelector(const std::string& decoder, const std::string& fileName)
{
    const int n = static_cast<int>(storeDecoders.size());
    for (int i = 0; i < n; ++i) {
        if (storeDecoders[i].name != decoder)
            continue;
        const std::vector<std::string>& d = storeDecoders[i].designators;
        int chosen = -1;
        for (int k = static_cast<int>(d.size()) - 1; k >= 0; --k) {
            if (fileName.compare(0, 6, d[k]) == 0)
                return i + n * k;
            if (fileName.compare(0, 4, d[k], 0, 4) == 0)
                chosen = k;
        }
        return chosen >= 0 ? i + n * chosen : -1;
    }
    return -1;
}

void writeStoreInput(const std::string& name, int selector, const Bytes& bulletin)
{
    Bytes selected(1, static_cast<unsigned char>(selector));
    selected.insert(selected.end(), bulletin.begin(), bulletin.end());
    write("store_bulletins", name, selected);
}

// Regression inputs of the storing harness's findings.  A model sounding
// whose forecast time 2 01 YYY widened past the seconds a time can take (the
// conversion to a time offset overflowed).
Bytes widenedForecastTime()
{
    BufrWriter w(3);
    w.centre(7).masterTableVersion(39, 1).category(2).dateTime(2024, 6, 1, 12, 0).subsets(2);
    w.descriptors({1198, 201140, 4194, 201000, 101000, 31001, 7004, 101000, 31001, 12198});
    for (double offset : {0.0, 3e10}) {
        w.chars(1198, "KBOS").op(201140).element(4194, offset).op(201000);
        w.factor(31001, 1).element(7004, 90000).factor(31001, 1).element(12198, 280);
    }
    return built(w, "widened forecast time");
}

// A thousand model soundings whose first repeats one level 65534 times (0 31
// 012): every sounding's profile arrays were made that long, gigabytes for
// 15 kB.
Bytes repeatedLevels()
{
    const int soundings = 1000;
    BufrWriter w(3);
    w.centre(7).masterTableVersion(39, 1).category(2).dateTime(2024, 6, 1, 12, 0).subsets(
        soundings);
    w.descriptors({1198, 4194, 101000, 31012, 7004, 101000, 31001, 12198});
    for (int s = 0; s < soundings; ++s) {
        w.chars(1198, "KBOS").element(4194, 0).factor(31012, s == 0 ? 65534 : 0);
        if (s == 0)
            w.element(7004, 90000);
        w.factor(31001, 1).element(12198, 280);
    }
    return built(w, "repeated levels");
}

// A satellite sounding bulletin of 69 bytes: a position repeated (0 31
// 012) `positions` times at a site, then a pressure repeated `levels` times.
// Every position began a sounding over all the values after it (time and
// memory by the square of the values), and the POES levels were sorted by
// exchange, by the square of their count.
Bytes repeatedSoundings(int latitude, int longitude, int pressure, unsigned positions,
                        unsigned levels)
{
    BufrWriter w(4);
    w.category(3).dateTime(2024, 6, 1, 12, 0).subsets(1);
    w.descriptors({102000, 31012, latitude, longitude, 101000, 31012, pressure});
    w.factor(31012, positions).element(latitude, 40.0).element(longitude, -95.0);
    w.factor(31012, levels).element(pressure, 85000);
    return built(w, "repeated soundings");
}

// Fifty profiler stations of 477 bytes, each with 65534 levels of a group
// that reads no data (0 31 012 over 2 01 000): every station's eleven level
// arrays were made that long, for the whole file.
Bytes emptyProfilerLevels()
{
    const int stations = 50;
    BufrWriter w(4);
    w.category(2).dateTime(2024, 6, 1, 12, 0).subsets(stations);
    w.descriptors({1001, 1002, 4001, 4002, 4003, 4004, 4005, 101000, 31012, 201000});
    for (int s = 0; s < stations; ++s) {
        w.element(1001, 72).element(1002, 100 + s).element(4001, 2024).element(4002, 6);
        w.element(4003, 1).element(4004, 12).element(4005, 0).factor(31012, 65534);
    }
    return built(w, "empty profiler levels");
}

void storeRegressionSeeds()
{
    const int poes = storeSelector("POESBufrDecoder", "IUTX01");
    const int goes = storeSelector("GOESBufrDecoder", "IUSN41");
    writeStoreInput("regression-poes-repeated-positions", poes,
                    repeatedSoundings(5002, 6002, 7004, 20000, 20000));
    writeStoreInput("regression-poes-repeated-levels", poes,
                    repeatedSoundings(5002, 6002, 7004, 1, 60000));
    writeStoreInput("regression-goes-repeated-positions", goes,
                    repeatedSoundings(5001, 6001, 10004, 20000, 20000));
    writeStoreInput("regression-repeated-levels", storeSelector("ModelBufrDecoder", "JUSA41"),
                    repeatedLevels());
    writeStoreInput("regression-widened-forecast-time",
                    storeSelector("ModelBufrDecoder", "JUSA41"), widenedForecastTime());
    writeStoreInput("regression-empty-profiler-levels", storeSelector("ProfBufrDecoder", "IUPT43"),
                    emptyProfilerLevels());
}

// Every data type's sample bulletins behind the selector of its decoder and
// of the designator its file name begins with.
void sampleSeeds()
{
    SampleOptions options;
    options.dataDir = std::string(QEV_SOURCE_DIR) + "/data";
    for (const SampleMaker& m : sampleMakers()) {
        std::vector<SampleBulletin> bulletins;
        std::string error;
        if (!m.make(options, bulletins, error)) {
            std::fprintf(stderr, "makeFuzzSeeds: %s samples: %s\n", m.decoder, error.c_str());
            failed = true;
            continue;
        }
        for (const SampleBulletin& b : bulletins) {
            const int selector = storeSelector(m.decoder, b.name);
            if (selector < 0) {
                std::fprintf(stderr, "makeFuzzSeeds: no registered %s designator for %s\n",
                             m.decoder, b.name.c_str());
                failed = true;
                continue;
            }
            writeStoreInput("sample-" + b.name, selector, b.bytes);
        }
    }
}

// ---- Wire messages ----

void putBytesAsUnits(Bytes& out, const Bytes& bytes)
{
    WirePeer::putWord(out, static_cast<uint32_t>(bytes.size()));
    for (unsigned char b : bytes)
        WirePeer::putWord(out, b);
}

std::vector<std::pair<std::string, Bytes> > wireMessages(const Bytes& bulletin)
{
    typedef WirePeer::Target Target;
    const Target address = Target::address(WirePeer::LOOPBACK, 40000, 4242);
    Target named;
    named.kind = 1;
    named.name = "DATA_CONTROLLER";
    const Target none;

    std::vector<std::pair<std::string, Bytes> > out;
    out.emplace_back("ready", WirePeer::readyMsg(address));
    out.emplace_back("data-request", WirePeer::dataReqMsg(named, "^IS.... (KWBC|EGRR)"));
    out.emplace_back("data", WirePeer::dataMsg(address, 7, bulletin));
    out.emplace_back("child-target", WirePeer::childTargetMsg(address, 123456789u, 4242));

    WirePeer::DataTime observation = WirePeer::DataTime::observation(1079352000);
    out.emplace_back("new-data", WirePeer::dataMgmtMsg(address, 99, observation));
    WirePeer::DataTime full;
    full.flags = 0x300 | 0x400 | 0x800 | 0x1000 | 0x2000;
    full.refTime = 1079352000;
    full.fcstPeriod = 3600;
    full.validFlag = true;
    full.validStart = 1079352000;
    full.validEnd = 1079355600;
    full.secondTime = 1079355600;
    full.key = 77;
    out.emplace_back("new-data-full-time", WirePeer::dataMgmtMsg(named, 100, full));

    Bytes body;
    WirePeer::putWord(body, 11);
    WirePeer::putWord(body, static_cast<uint32_t>(bulletin.size()));
    putBytesAsUnits(body, Bytes(bulletin.begin(), bulletin.begin() + 64));
    out.emplace_back("raw-product", WirePeer::encode(address, 0, 4, body));

    body.clear();
    WirePeer::putString(body, "KWBC");
    WirePeer::putWord(body, 12);
    WirePeer::putWord(body, 5);
    body.insert(body.end(), {'B', 'U', 'F', 'R', 0});
    out.emplace_back("data-stream", WirePeer::encode(none, 0, 5, body));
    out.emplace_back("data-stream-other", WirePeer::encode(none, 0, 8, body));

    body.clear();
    WirePeer::putString(body, "IS.*");
    out.emplace_back("comms-request", WirePeer::encode(address, 0, 6, body));

    body.clear();
    WirePeer::putString(body, "ISMC01");
    WirePeer::putWord(body, 13);
    WirePeer::putWord(body, 3);
    putBytesAsUnits(body, {1, 2, 3});
    out.emplace_back("comms-data", WirePeer::encode(address, 0, 7, body, 1));

    body.clear();
    WirePeer::putWord(body, 1079352000);
    out.emplace_back("restart", WirePeer::encode(address, 0, 9, body));

    body.clear();
    WirePeer::putString(body, "/data/ingest/bufr/ISMC01_KWBC_151200.bufr");
    out.emplace_back("file-path", WirePeer::encode(named, 17, 0, body));

    // Several messages on one connection: the first names the peer; an
    // unknown module and a high-priority message follow.
    out.emplace_back("conversation",
                     concat({WirePeer::readyMsg(address), WirePeer::dataMsg(address, 8, bulletin),
                             WirePeer::encode(address, 9, 4, {1, 2, 3, 4}),
                             WirePeer::encode(address, 1, 0, {}, 1)}));

    // Regression: a sender of a kind other than null, named and address was
    // learnt as the socket's peer and never left the table of peers.
    Target odd = address;
    odd.kind = 3;
    out.emplace_back("regression-unknown-sender-kind",
                     concat({WirePeer::readyMsg(odd), WirePeer::readyMsg(odd)}));
    return out;
}

// ---- Text files ----

void textSeeds()
{
    writeText("config", "types",
              "# the type definitions, then assignments\n"
              "int = numBytes, numMins\n"
              "float = factor\n"
              "TextString = name\n"
              "SeqOfTextString = names\n"
              "CartCoord2DFloat = origin\n"
              "CartCoord2DInt = size\n"
              "CartDomain2DFloat = domain\n"
              "SeqOfCartCoord2DFloat = corners\n"
              "SeqOfInt = ids\n"
              "SeqOfFloat = levels\n"
              "SocketBufferSize.numBytes : 65536\n"
              "SocketConnectionTimeout.numMins : 0x10\n"
              "Scale.factor : -1.5e3\n"
              "Site.name : \"Omaha  NE\"\n"
              "Sites.names : KOAX, \"KWBC x\", EGRR,\n"
              "Grid.origin : (12.5, -3)\n"
              "Grid.size : 640,480\n"
              "Grid.domain : (0,0),(10.5,20)\n"
              "Grid.corners : (1,2),(3,4),(5,6)\n"
              "Stations.ids : 72493, 010, 0x1F\n"
              "Levels.levels : 1000, 850.5, 500\n");
    writeText("config", "include",
              "#include \"bufrTableB\"\n"
              "#include \"missing.config\"\n"
              "int = n\n"
              "A.n : 2147483648\n"
              "B.n : 1 // a comment \\\n"
              "continued\n"
              "SocketConnection.namedTargets : x\n");
    writeText("config", "named-targets",
              WirePeer::namedTargetsConfig({"NOTIFICATION_SERVER,127.0.0.1,40001",
                                            "DATA_CONTROLLER,127.0.0.1,40002"}));

    writeText("log_pref", "filters",
              "# filters, prefixes, aborts\n"
              "all all all all = off\n"
              "fuzz_log_pref all file problem = on\n"
              "all BufrDecoder tty debug = on\n"
              "all all collective verbose = off\n"
              "tty timestamp = on\n"
              "file lineno = on\n"
              "all filename = on\n"
              "collective processname = off\n"
              "all processid = on\n"
              "file unixtime = on\n"
              "debug abort = on\n"
              "debug abort = off\n"
              "fatal abort = off\n"
              "bug traceback = on\n"
              "forceendl = off\n"
              "includePrefixForVerbose_ = on\n"
              "suppressPrefixForVerbose_ = on\n");
    writeText("log_pref", "error", "all all all all = on\nall Config tty = on\nuse = off\n");

    writeText("pattern_file", "pattern",
              "BUFR pattern count 4\n"
              "IUSK      ^(KWBC|KWNO)\n"
              "iusn      ^K[A-Z]{3}\n"
              "JUBE      [\n"
              "IS        \n");
    writeText("pattern_file", "short", "count 1\nISMC\n");
    // Regression: stacked repetitions made regcomp write one character out
    // 2^47 times.
    writeText("pattern_file", "regression-stacked-repetitions",
              "BUFR pattern count 2\nIUSN      4" + std::string(47, '+') + "\nIU" +
                  std::string(40, '+') + "  ^0[1-9]$\n");
    // Regression: words that pass alone but not joined left their prefixes
    // to the first reader of the file only.
    writeText("pattern_file", "regression-joined-pattern-refused",
              "BUFR pattern count 2\n((IUA\nIUB){40}){40}\n");
    // Regression: repetitions of an omitted minimum ({,m}, read by regcomp
    // as {0,m}) were not counted: nested or large, they took gigabytes.
    writeText("pattern_file", "regression-omitted-minimum",
              "BUFR pattern count 3\n"
              "IUSN4     ((((4{,7}){,7}){,7}){,7}){,7}\n"
              "((((I{,7}){,7}){,7}){,7}){,7}     4[0-9]\n"
              "JUTX      4{,20000}\n");
    // Regression: repetitions of what may match nothing, nested within a
    // repetition, passed the count of elements and held regcomp for minutes.
    writeText("pattern_file", "regression-nested-empty-repetitions",
              "BUFR pattern count 2\n"
              "IUSN4     (((4{,7}){,7}){,7}){,}7){,7}\n"
              "IUTX      ^(((0?)?){,100})*$\n");

    writeText("station_table", "stations",
              "72493 KOAK 37.72 -122.22 3 40000.0 OAKLAND_INTL\n"
              "72494 KSFO 37.62 -122.37 4 100.5 SAN_FRANCISCO\n"
              "10384 EDDB 52.38 13.52 5\n"
              "3772 EGLL 51.48 -0.45\n"
              "bad line\n"
              "99999 POLE 90.0 0.0 1 0.0 NORTH_POLE_STATION_WITH_A_LONG_NAME\n");

    writeText("text_dict", "keyed",
              "# keyed lines\n"
              "72493 | OAKLAND | 37.72\n"
              "0x1F | hexadecimal\n"
              "010 | octal\n"
              "y1V | base 32\n"
              "-5 | negative\n"
              "4294967296 | too large\n"
              "// a comment line\n"
              "#include \"fuzzDict.txt\"\n"
              "#include \"replDescTbl\"\n"
              "#include without a name\n"
              "72493 | replaced\n"
              "a line without a key\n");
}

void tableSeeds()
{
    const std::string data = std::string(QEV_SOURCE_DIR) + "/data/";
    auto firstLines = [&](const char* name, int count) {
        std::ifstream in(data + name);
        std::string line, text;
        for (int i = 0; i < count && std::getline(in, line); ++i)
            text += line + "\n";
        return text;
    };
    std::string tables = firstLines("bufrTableB", 60);
    tables += '\0';
    tables += firstLines("bufrTableD", 30);
    tables += '\0';
    tables += firstLines("replDescTbl", 10);
    tables += '\0';
    tables += firstLines("bufrTableVersions", 40);
    tables += '\0';
    tables += firstLines("bufrLocalCentres", 10);
    writeText("bufr_tables", "tables", tables);
    writeText("bufr_tables", "damaged",
              std::string("012101|TEMPERATURE|K|2|0|16\n001015|NAME|CCITT IA5|0|0|160|x\n") +
                  '\0' + "301011|004001|004002|\n" + '\0' + "31001\n" + '\0' +
                  "versions|6|39|39\nB|6|13|012101|T|K|1|0|12\nB|12|14|012101|-\n" +
                  "D|7|7|301011|004001|004002|\n" + '\0' + "7\n98x\n");
}

// The BUFR findings of the fuzz corpus beside the project
// (../shared/corpus/fuzz; .bufr, and .bufr.gz decompressed), each followed by
// two messages of the writer, for the sequence harness's replay of them
// whole (DIR/findings/bufr_sequence); those that fit the decoder harnesses'
// inputs seed them too ("finding-..."), alone and followed by the two
// messages.  Read from there when it is there, never kept in the project.
void sharedFindings(const std::vector<std::pair<std::string, Bytes> >& messages)
{
    // The -max_len of the decoder harnesses (CMakeLists.txt).
    const std::size_t maxDecoderInput = 65536;
    const fs::path corpus = fs::path(QEV_SOURCE_DIR) / ".." / "shared" / "corpus" / "fuzz";
    std::error_code error;
    if (!fs::is_directory(corpus, error))
        return;
    const Bytes after = concat({messages.front().second, messages[2].second});
    for (const fs::directory_entry& entry : fs::directory_iterator(corpus, error)) {
        const std::string name = entry.path().filename().string();
        const auto endsWith = [&name](const std::string& end) {
            return name.size() > end.size() &&
                   name.compare(name.size() - end.size(), end.size(), end) == 0;
        };
        const bool compressed = endsWith(".bufr.gz");
        if (!compressed && !endsWith(".bufr"))
            continue;
        const std::string command =
            (compressed ? "gzip -dc '" : "cat '") + entry.path().string() + "'";
        FILE* in = popen(command.c_str(), "r");
        Bytes finding;
        unsigned char buffer[65536];
        for (size_t n; in && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
            finding.insert(finding.end(), buffer, buffer + n);
        if (!in || pclose(in) != 0 || finding.empty()) {
            std::fprintf(stderr, "makeFuzzSeeds: cannot read %s\n", entry.path().c_str());
            failed = true;
            continue;
        }
        const std::string plain = compressed ? name.substr(0, name.size() - 3) : name;
        write("findings/bufr_sequence", plain, concat({finding, after}));
        if (finding.size() + after.size() <= maxDecoderInput) {
            write("bufr_decoder", "finding-" + plain, finding);
            write("bufr_sequence", "finding-" + plain, concat({finding, after}));
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: makeFuzzSeeds DIR\n");
        return 2;
    }
    outputDir = argv[1];

    const auto messages = bufrMessages();
    for (const auto& m : messages) {
        write("bufr_decoder", m.first, m.second);
        // The storing harness: the bulletin for every registered decoder.
        for (size_t selector = 0; selector < storeDecoders.size(); ++selector)
            writeStoreInput(std::to_string(selector) + "-" + m.first,
                            static_cast<int>(selector), m.second);
    }
    sampleSeeds();
    storeRegressionSeeds();
    write("bufr_decoder", "regression-compressed-increment-overflow",
          compressedIncrementOverflow());
    write("bufr_decoder", "regression-scale-increase-reference-overflow",
          scaleIncreaseReferenceOverflow());
    write("bufr_decoder", "regression-compressed-new-reference-overflow",
          compressedNewReferenceOverflow());
    write("bufr_decoder", "regression-factors-past-an-int",
          fuzzFindings::factorsPerSubset({65534, 3}));
    write("bufr_decoder", "regression-factors-past-a-negative-int",
          fuzzFindings::factorsPerSubset({32800}));
    write("bufr_decoder", "regression-factors-by-the-billion",
          fuzzFindings::factorsPerSubset({8000}));
    write("bufr_decoder", "regression-unknown-columns", fuzzFindings::unknownColumns());
    write("bufr_decoder", "regression-associated-fields", fuzzFindings::associatedFields());
    write("bufr_decoder", "regression-empty-replications", fuzzFindings::emptyReplications());

    // The sequence harness: messages in a row, each after the one before.
    for (size_t i = 0; i + 1 < messages.size(); ++i)
        write("bufr_sequence", messages[i].first + "-then-" + messages[i + 1].first,
              concat({messages[i].second, messages[i + 1].second}));
    write("bufr_sequence", "regression-no-subsets-after-good",
          concat({messages.front().second, fuzzFindings::noSubsets()}));
    sharedFindings(messages);

    for (const auto& m : wireMessages(messages.front().second))
        write("message_reader", m.first, m.second);

    textSeeds();
    tableSeeds();
    return failed ? 1 : 0;
}
