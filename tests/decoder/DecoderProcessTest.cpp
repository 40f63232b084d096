// The decoder process as a child, with the test peer on 127.0.0.1 as its
// parent and data controller: the decoder program for the start-up exits,
// and the same process with the fake decoder under "model" (fake_decoder).
#include "BufrWriter.h"
#include "DecoderChild.h"
#include "StaticBufrInfo.h"
#include "TempTree.h"
#include "WirePeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string decoderProgram = std::string(QEV_BIN_DIR) + "/decoder";
const std::string fakeProgram = std::string(QEV_BIN_DIR) + "/fake_decoder";

// The BUFR tables, the fake's pattern file (products "JUSX"), its
// directories, every log category on the terminal, and the peer.
struct Process {
    explicit Process(bool withPattern = true)
    {
        for (const char* table : StaticBufrInfo::tableFiles)
            symlink((std::string(QEV_SOURCE_DIR) + "/data/" + table).c_str(),
                    (tree.qevHome() + "/data/" + table).c_str());
        if (withPattern)
            tree.write("qev_home/data/fakeBufrPattern.txt", "fake bufr patterns 1\nJUSX\n");
        tree.setEnv("LOG_PREF", tree.write("pref", "all all tty debug = on\n"
                                                   "all all tty verbose = on\n").c_str());
    }
    void addFile(const std::string& name) const
    {
        BufrWriter w;
        const BufrWriter::Bytes m = w.descriptors({12101}).element(12101, 273.15).build();
        tree.write("qev_data/ispan/bufr/fake/" + name, std::string(m.begin(), m.end()));
    }
    // A data message to the process, on a connection to its own port.
    bool sendData(const WirePeer::Message& ready)
    {
        const int connection = peer.connectTo(ready.sender);
        return connection >= 0 && peer.sendData(connection, 7, "product 7");
    }

    TempTree tree;
    std::string in = tree.mkdirs("qev_data/ispan/bufr/fake") + "/";
    std::string bad = tree.mkdirs("qev_data/ispan/badFake") + "/";
    std::string log = tree.path("child.log");
    WirePeer peer;
};

bool inOrder(const std::string& text, const std::vector<std::string>& parts)
{
    size_t at = 0;
    for (const std::string& part : parts)
        if ((at = text.find(part, at)) == std::string::npos)
            return false;
    return true;
}

} // namespace

// Answer, registration, first pass, one data message; a SIGTERM that ends
// the wait registers once more, then shuts down clean after the point-data
// files are closed, and nothing logs after it.
TEST(DecoderProcess, ServesItsParentAndShutsDownClean)
{
    Process p;
    p.addFile("JUSX41_first");
    DecoderChild child(fakeProgram, {p.peer.targetText(), "77", "Model", "more"}, p.log);
    WirePeer::Message answer, request, ready;
    ASSERT_TRUE(p.peer.waitFor(5, 0, 20000, &answer)) << child.log();
    EXPECT_EQ(answer.uniqueId, 77u);
    EXPECT_EQ(answer.processId, child.pid());
    ASSERT_TRUE(p.peer.waitFor(1, 1, 20000, &request)) << child.log();
    EXPECT_EQ(request.pattern, "JUSX");
    ASSERT_TRUE(p.peer.waitFor(1, 0, 20000, &ready));
    EXPECT_LT(request.seq, ready.seq);
    EXPECT_FALSE(TempTree::exists(p.in + "JUSX41_first"));
    EXPECT_TRUE(inOrder(child.log(), {"sending ChildTargetMsg to parent",
                                      "VERBOSE: Reading bufr patterns from",
                                      "EVENT: Sending following data request pattern to "
                                      "DataController: JUSX",
                                      "MXR_ENTRY [1/1] = JUSX41_first"}))
        << child.log();

    p.addFile("JUSX42_second");
    ASSERT_TRUE(p.sendData(ready));
    ASSERT_TRUE(p.peer.waitFor(1, 0, 20000)) << child.log();
    EXPECT_FALSE(TempTree::exists(p.in + "JUSX42_second"));
    EXPECT_TRUE(inOrder(child.log(), {"DEBUG: processMsg_Single: data length = 9",
                                      "MXR_ENTRY [1/1] = JUSX42_second",
                                      "Writing record to netcdf file: 20240315_1200"}));

    ASSERT_TRUE(child.waitAsleep(10000));
    const size_t requests = p.peer.count(1, 1), readies = p.peer.count(1, 0);
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(20000), 0);
    EXPECT_TRUE(p.peer.waitForCount(1, 0, readies + 1, 5000));
    EXPECT_EQ(p.peer.count(1, 1), requests + 1);
    EXPECT_EQ(p.peer.count(1, 0), readies + 1);
    const std::string log = child.log();
    const std::string clean = "Signal 15 (Terminate) received for clean shutdown";
    EXPECT_TRUE(inOrder(log, {"PROBLEM: No messages in time period. Re-registering.",
                              "DEBUG: Syncing and closing the point-data files", clean}))
        << log;
    EXPECT_EQ(log.find(": ", log.find(clean) + clean.size()), std::string::npos) << log;
}

// A short wait limit re-registers again and again.  A SIGALRM while a file
// is being decoded, in a data message's pass or in a decoder's pass from its
// constructor, moves that file aside and ends the process dirty, without
// closing the point-data files.
TEST(DecoderProcess, ReRegistersOnTimeOutAndAlarmMovesTheFileBeingDecoded)
{
    for (bool duringConstruction : {false, true}) {
        Process p;
        p.tree.setEnv("FAKE_DECODER_TIMEOUT", "2");
        if (duringConstruction) {
            p.tree.setEnv("FAKE_DECODER_CONSTRUCTOR_PASS", "1");
            p.addFile("JUSX41_SLOW");
        }
        DecoderChild child(fakeProgram, {p.peer.targetText(), "5", "model"}, p.log);
        if (!duringConstruction) {
            WirePeer::Message ready;
            ASSERT_TRUE(p.peer.waitFor(1, 0, 20000, &ready)) << child.log();
            ASSERT_TRUE(p.peer.waitForCount(1, 1, 3, 20000)) << child.log();
            EXPECT_TRUE(child.waitForLog("No messages in time period. Re-registering.", 0));
            p.addFile("JUSX41_SLOW");
            ASSERT_TRUE(p.sendData(ready));
        }
        ASSERT_TRUE(child.waitForLog("MXR_ENTRY [1/1] = JUSX41_SLOW", 20000)) << child.log();
        child.signal(SIGALRM);
        EXPECT_EQ(child.waitExit(20000), 1);
        EXPECT_FALSE(TempTree::exists(p.in + "JUSX41_SLOW"));
        EXPECT_TRUE(TempTree::exists(p.bad + "JUSX41_SLOW")) << child.log();
        EXPECT_TRUE(child.waitForLog("Signal 14 (Alarm clock) received for dirty shutdown", 0));
        EXPECT_FALSE(child.waitForLog("Syncing and closing", 0));
    }
}

// Each start-up failure exits 1 with its text; wrong arguments also give the
// usage line, and an unset QEV_HOME is named.  The parent has its answer
// whenever the arguments name the data type.
TEST(DecoderProcess, StartUpFailuresExitOne)
{
    struct Case {
        const std::string& program;
        std::vector<std::string> args;   // after the peer's target
        bool withPattern;
        std::string text;
        bool usage = false, withoutHome = false;
    };
    const Case cases[] = {
        {decoderProgram, {"12"}, true, decoderProgram + " passed 2 arguments, expected 3, exiting",
         true},
        {decoderProgram, {"12", "Radar"}, true,
         "PROBLEM: No decoder objects were created for Radar data. Exiting.", true},
        {fakeProgram, {"12", "model"}, false,
         "PROBLEM: Error constructing data request pattern. Exiting."},
        {decoderProgram, {"12", "model"}, true,
         "PROBLEM: Unable to get bufr pattern from /data/modelBufrPattern.txt (QEV_HOME is not "
         "set)",
         false, true},
    };
    const std::string usage = "Usage: " + decoderProgram +
                              " PARENT_TARGET UNIQUE_ID DATA_TYPE, where PARENT_TARGET is the "
                              "parent's host/port/pid or a named target, UNIQUE_ID the number "
                              "the parent gave this child, and DATA_TYPE holds one or more of "
                              "the data type keys model, goes, poes, acars, csw, prof, quikscat "
                              "(for example model or poes_goes)\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Process p(c.withPattern);
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), p.peer.targetText());
        const std::string home = getenv("QEV_HOME");
        if (c.withoutHome)
            unsetenv("QEV_HOME");
        DecoderChild child(c.program, args, p.log);
        setenv("QEV_HOME", home.c_str(), 1);
        EXPECT_EQ(child.waitExit(20000), 1);
        EXPECT_TRUE(child.waitForLog(c.text, 0)) << child.log();
        EXPECT_EQ(child.log().find(usage) != std::string::npos, c.usage) << child.log();
        WirePeer::Message answer;
        const bool answers = args.size() == 3;
        ASSERT_EQ(p.peer.waitFor(5, 0, answers ? 5000 : 0, &answer), answers);
        EXPECT_TRUE(!answers || (answer.uniqueId == 12u && answer.processId == child.pid()));
    }
}
