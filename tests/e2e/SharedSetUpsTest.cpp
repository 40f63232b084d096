// The decoder process run as an account of its own in trees that other
// accounts share with it, as installations lay them out: QEV_DATA a link
// laid by root in a sticky directory open to all, the data tree an
// installation account's (0755) holding the decoder's own store
// directories, and the ingest tree with its bad-file directory the ingest
// account's (its group, which the decoder's account is in, or everybody
// may write it), the ingest directory in it the decoder's.  A bulletin is
// stored and one that does not decode is set aside, as in a tree of the
// decoder's own.
//
// The accounts are uids 61011 (the decoder's, started through setpriv),
// 61012 (the installation's) and 61013 (the ingest process's, and its
// group): the test needs root, and skips otherwise.
#include "DecoderProcess.h"
#include "ModelInstallation.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace e2e;

namespace {

const uid_t DECODER = 61011, INSTALLATION = 61012, INGEST = 61013;
const char* const setpriv = "/usr/bin/setpriv";

void own(const std::string& path, uid_t account, mode_t mode, gid_t group = INGEST)
{
    ASSERT_EQ(chown(path.c_str(), account, group), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

} // namespace

TEST(SharedSetUps, StoreAndSetAsideInDirectoriesOtherAccountsLaid)
{
    if (geteuid() != 0 || access(setpriv, X_OK) != 0)
        GTEST_SKIP() << "running the decoder as another account needs root and " << setpriv;
    QEV_REQUIRE_NCGEN();
    for (const mode_t ingestMode : {0775, 01777}) {
        SCOPED_TRACE(ingestMode);
        ModelInstallation inst("all all file all = off\nall all collective all = off\n");
        ASSERT_EQ(chmod(inst.tree.root().c_str(), 0755), 0);
        for (const char* dir : {"qev_data", "qev_data/point", "qev_data/point/model"})
            own(inst.tree.path(dir), INSTALLATION, 0755, INSTALLATION);
        for (int m = 0; m < 4; ++m) {
            own(fs::path(inst.storeDir(m)).parent_path().string(), INSTALLATION, 0755,
                INSTALLATION);
            own(inst.storeDir(m), DECODER, 0755, DECODER);
        }
        for (const char* dir :
             {"ispan", "ispan/bufr", "ispan/bufr/modelSoundings", "ispan/badModelBufr"})
            own(inst.tree.path(std::string("qev_data/") + dir), INGEST, ingestMode);
        // The ingest directory is the decoder's, which empties it.
        own(inst.in, DECODER, ingestMode);
        const std::string shared = inst.tree.mkdirs("shared");
        ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
        ASSERT_EQ(symlink(inst.tree.qevData().c_str(), (shared + "/data").c_str()), 0);
        inst.tree.setEnv("QEV_DATA", (shared + "/data").c_str());

        const ModelBulletin eta = modelBulletins(1, 3)[0];
        ASSERT_EQ(eta.model, 0);
        inst.drop(eta);
        const std::string corrupt = "JUSA41_KWBC_corrupt";
        inst.tree.write("qev_data/ispan/bufr/modelSoundings/NAM/" + corrupt, "BUFR 1");
        for (const std::string& name : {corrupt, eta.sample.name})
            own(inst.in + "/" + name, INGEST, 0644);

        const std::string account = std::to_string(DECODER);
        DecoderProcess d(inst.notices, "Model", inst.tree.path("decoder.log"),
                         {setpriv, "--reuid=" + account, "--regid=" + account,
                          "--groups=" + std::to_string(INGEST), "--"});
        ASSERT_TRUE(d.ready()) << d.child.log();
        ASSERT_TRUE(d.announce()) << d.child.log();
        EXPECT_EQ(d.stop(), 0);

        EXPECT_TRUE(TempTree::listFiles(inst.in).empty()) << d.child.log();
        EXPECT_EQ(TempTree::listFiles(inst.bad), std::vector<std::string>{corrupt})
            << d.child.log();
        EXPECT_TRUE(holdsBulletin(storedByKey(inst.storeDir(0)), eta)) << d.child.log();
    }
}
