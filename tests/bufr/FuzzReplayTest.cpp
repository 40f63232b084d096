// The inputs of the shared fuzz corpus (../shared/corpus/fuzz/: BUFR
// messages, gzip-compressed messages of about 16 MB, pattern files), each
// replayed by the real decoder in a process of its own (replay_finding):
// through within 10 s, with no allocation over 1 GB (the sanitizers'
// allocator is told to refuse larger ones, which fails the run) and a peak
// resident size under 1 GB, and, for a message, the heap the decoder holds
// after it and a small message within 64 MB of what it held after the small
// message alone, the small message decoding as it did before.  The storing
// harness's inputs (.sel) are replayed with the decoders that store them.
#include "../decoder/DecoderChild.h"
#include "BufrWriter.h"
#include "StaticBufrInfo.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

const std::string corpus = std::string(QEV_SHARED_DIR) + "/corpus/fuzz/";

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string gunzip(const std::string& path)
{
    std::string bytes;
    FILE* in = popen(("gzip -dc '" + path + "'").c_str(), "r");
    if (!in)
        return bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        bytes.append(buffer, n);
    return pclose(in) == 0 ? bytes : std::string();
}

// The number after `key` in the child's log, or -1.
long number(const std::string& log, const std::string& key)
{
    const size_t at = log.find(key);
    return at == std::string::npos ? -1 : std::atol(log.c_str() + at + key.size());
}

} // namespace

TEST(FuzzFindingsReplay, EachInputWithinTenSecondsAndOneGigabyte)
{
    if (!TempTree::exists(corpus + "MANIFEST.md"))
        GTEST_SKIP() << "no fuzzer findings at " << corpus;
    TempTree tree;
    // The project's tables; and the same with a table B line whose width
    // the arithmetic cannot hold in place of 0 12 101's.
    const std::string source = std::string(QEV_SOURCE_DIR) + "/data/";
    const std::string tables = tree.mkdirs("tables/data") + "/";
    const std::string wide = tree.mkdirs("wide/data") + "/";
    for (const char* table : StaticBufrInfo::tableFiles) {
        ASSERT_EQ(symlink((source + table).c_str(), (tables + table).c_str()), 0);
        if (std::string(table) != "bufrTableB") {
            ASSERT_EQ(symlink((source + table).c_str(), (wide + table).c_str()), 0);
        }
    }
    std::string tableB = TempTree::readFile(source + "bufrTableB");
    const size_t line = tableB.find("\n012101|");
    ASSERT_NE(line, std::string::npos);
    const std::string wideLine = "012101|TEMPERATURE/AIR TEMPERATURE|K|2|0|2147483600";
    tableB.replace(line + 1, tableB.find('\n', line + 1) - line - 1, wideLine);
    tree.write("wide/data/bufrTableB", tableB);

    BufrWriter w;
    w.descriptors({1015, 12001}).chars(1015, "SMALL").element(12001, 273.1);
    const std::string small = tree.path("small.bufr");
    ASSERT_TRUE(BufrWriter::writeFile(small, w.build()));
    // Allocations over 1 GB are refused (a sanitizer report), and the
    // quarantine of freed blocks is kept small, so that the resident size
    // is what the decoder holds.
    const char* options = std::getenv("ASAN_OPTIONS");
    tree.setEnv("ASAN_OPTIONS", (std::string(options ? options : "") +
                                 ":max_allocation_size_mb=1024:quarantine_size_mb=16")
                                    .c_str());

    int replayed = 0;
    for (const std::string& name : TempTree::listFiles(corpus)) {
        const bool compressed = endsWith(name, ".bufr.gz");
        const bool pattern = endsWith(name, ".txt");
        if (!compressed && !pattern && !endsWith(name, ".bufr"))
            continue;
        SCOPED_TRACE(name);
        const bool wideTable = name == "cfg-width-overflow.bufr";
        tree.setEnv("QEV_HOME", tree.path(wideTable ? "wide" : "tables").c_str());
        std::vector<std::string> args;
        if (pattern) {
            tree.write("tables/data/" + name, TempTree::readFile(corpus + name));
            args = {"pattern", name};
        } else if (compressed) {
            const std::string input = tree.path(name.substr(0, name.size() - 3));
            const std::string bytes = gunzip(corpus + name);
            ASSERT_FALSE(bytes.empty());
            tree.write(name.substr(0, name.size() - 3), bytes);
            args = {"bufr", small, input};
        } else {
            args = {"bufr", small, corpus + name};
        }
        DecoderChild child(std::string(QEV_BIN_DIR) + "/replay_finding", args,
                           tree.path(name + ".log"));
        const int status = child.waitExit(10000);
        ASSERT_EQ(status, 0) << (status < 0 ? "not through in 10 s:\n" : "failed:\n")
                             << child.log();
        const std::string log = child.log();
        if (!pattern) {
            EXPECT_NE(log.find("replay: small message after it the same"), std::string::npos)
                << log;
            const long grown = number(log, "replay: heap grown ");
            EXPECT_LT(grown, 64L << 20) << log;
        }
        const long peak = number(log, "replay: peak resident ");
        std::cout << "[replay] " << name << ": "
                  << (pattern ? "pattern" : log.find("input decoded") != std::string::npos
                                                ? "decoded"
                                                : "refused")
                  << ", heap grown " << number(log, "replay: heap grown ") << " B, peak "
                  << peak / 1024 << " MB" << std::endl;
        EXPECT_GT(peak, 0) << log;
        EXPECT_LT(peak, 1L << 20) << "kB";
        if (wideTable) {
            EXPECT_NE(log.find("[" + wideLine + "] of " + tree.path("wide") +
                               "/data/bufrTableB: width 2147483600 is outside 0 to 65535 bits"),
                      std::string::npos)
                << log;
            EXPECT_NE(log.find("Code 12101 does not exist in table B."), std::string::npos);
        }
        ++replayed;
    }
    EXPECT_GE(replayed, 30);
}
