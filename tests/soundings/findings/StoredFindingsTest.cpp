// The storing harness's findings against the POES decoder, replayed as the
// harness runs them: the bulletin as a file of the decoder's ingest
// directory, the decoder's directory pass, the decode and the store.  Each
// runs in a child process bounded to 10 s and 1 GB (its peak resident size;
// its address space too where no sanitizer reserves its own).
#include "../SoundingTestSupport.h"

#include "BulletinLog.h"
#include "LogCapture.h"
#include "POESBufrDecoder.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace soundings;

namespace {

testing::Environment* const tables = testing::AddGlobalTestEnvironment(new ProcessTables);

#if defined(__SANITIZE_ADDRESS__)
const bool sanitizerAddressSpace = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
const bool sanitizerAddressSpace = true;
#else
const bool sanitizerAddressSpace = false;
#endif
#else
const bool sanitizerAddressSpace = false;
#endif

const long LIMIT_BYTES = 1L << 30;
const unsigned LIMIT_SECONDS = 10;

class StoredFindings : public SoundingTree {
protected:
    // The finding's bulletin (its first octet selects the POES decoder in
    // the harness) through a POES decoder's directory pass in a child.
    void replay(const std::string& finding)
    {
        const std::string path = std::string(QEV_SHARED_DIR) + "/corpus/fuzz/" + finding;
        if (!TempTree::exists(path))
            GTEST_SKIP() << path << " is not there";
        const std::string input = TempTree::readFile(path);
        ASSERT_GT(input.size(), 1u);
        ASSERT_EQ(input[0], 1) << "not an input of the POES decoder";
        tree.mkdirs("qev_data/ispan/badPOESBufr");
        tree.write("qev_data/ispan/bufr/POESSoundings/" + name, input.substr(1));

        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            alarm(LIMIT_SECONDS);
            if (!sanitizerAddressSpace) {
                const rlimit limit = {LIMIT_BYTES, LIMIT_BYTES};
                setrlimit(RLIMIT_AS, &limit);
            }
            POESBufrDecoder decoder;    // its directory pass runs at construction
            _exit(decoder.initialized() ? 0 : 3);
        }
        int status = 0;
        rusage usage = {};
        ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
        ASSERT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
            << finding << " took more than " << LIMIT_SECONDS << " s";
        ASSERT_TRUE(WIFEXITED(status)) << finding << ": the child ended by signal "
                                       << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_LE(usage.ru_maxrss * 1024L, LIMIT_BYTES) << finding;
    }
    void expectSetAside()
    {
        EXPECT_TRUE(TempTree::listFiles(tree.path("qev_data/ispan/bufr/POESSoundings")).empty());
        EXPECT_TRUE(TempTree::exists(tree.path("qev_data/ispan/badPOESBufr/" + name)));
        EXPECT_TRUE(dataFiles(store("POES")).empty());
    }

    const std::string name = "IUTX01_KWBC_fuzz";
    LogCapture log;
};

} // namespace

// 65,535 compressed soundings of 100 levels, none with its time ten values
// before its latitude: every one is located, none is stored, and the
// bulletin is set aside with one bounded line of the kind.
TEST_F(StoredFindings, SoundingsWithoutTimesAreLocatedAndSetAside)
{
    replay("store-poes-compressed-65535x100.sel");
    if (IsSkipped() || HasFatalFailure())
        return;
    expectSetAside();
    EXPECT_EQ(log.count("PROBLEM: No observation time for the sounding at site "),
              BulletinLog::LIMIT)
        << log.text();
    EXPECT_TRUE(log.contains("No observation time for the sounding ... and 65515 more for " +
                             tree.path("qev_data/ispan/bufr/POESSoundings/") + name +
                             " (65535 in all)"))
        << log.text();
}

// The same of 290 levels, and 65,535 subsets of 305 data-present flags: their
// values would take more memory than a message may, so each is refused
// before its values are made, and set aside.
TEST_F(StoredFindings, MessagesBeyondTheMemoryOfAMessageAreSetAside)
{
    for (const char* finding :
         {"store-poes-compressed-65535x290.sel", "store-poes-compressed-20M.sel"}) {
        SCOPED_TRACE(finding);
        log.clear();
        replay(finding);
        if (IsSkipped() || HasFatalFailure())
            return;
        expectSetAside();
        EXPECT_TRUE(log.contains("PROBLEM: The values of the message would take more than"))
            << log.text();
        std::filesystem::remove(tree.path("qev_data/ispan/badPOESBufr/" + name));
    }
}
