// Opening directories part by part where other accounts may write: each part
// judged by who could have laid it there.  The calls run in a child that has
// taken an account of its own (uid 61001), so that this account, root and a
// third account (61002) are three; the tests need root, and skip otherwise.
#include "SafeDirectory.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const uid_t ME = 61001, OTHER = 61002, ROOT = 0;

enum Kind { DIRECTORY, LINK_TO_DIRECTORY, LINK_TO_FILE };

struct Case {
    const char* what;
    mode_t parentMode;
    uid_t parentOwner;
    Kind kind;
    uid_t owner;   // of the part
    SafeDirectory::Entering entering;
    SafeDirectory::Refusal expected;
};

const SafeDirectory::Entering OWN = SafeDirectory::OWN_DIRECTORIES;
const SafeDirectory::Entering OTHERS = SafeDirectory::OTHERS_DIRECTORIES;
const SafeDirectory::Refusal ENTERED = SafeDirectory::NONE;
const SafeDirectory::Refusal LINK = SafeDirectory::LINK;
const SafeDirectory::Refusal FOREIGN = SafeDirectory::FOREIGN_OWNER;
// A link at a file's name refused for reading fails as the system does on
// a link (ELOOP).
const SafeDirectory::Refusal SYSTEM = SafeDirectory::SYSTEM;

const Case cases[] = {
    // Links: never where group or others may write without the sticky bit.
    {"another account's link, open to all", 0777, ROOT, LINK_TO_DIRECTORY, OTHER, OWN, LINK},
    {"own link, open to all", 0777, ROOT, LINK_TO_DIRECTORY, ME, OWN, LINK},
    {"own link, open to the group", 0775, ME, LINK_TO_DIRECTORY, ME, OWN, LINK},
    {"root's link, open to all, sticky", 01777, ROOT, LINK_TO_DIRECTORY, ROOT, OWN, ENTERED},
    {"own link, open to all, sticky", 01777, ROOT, LINK_TO_DIRECTORY, ME, OWN, ENTERED},
    {"another account's link, sticky", 01777, ROOT, LINK_TO_DIRECTORY, OTHER, OWN, LINK},
    {"another account's link in its directory", 0755, OTHER, LINK_TO_DIRECTORY, OTHER, OWN, LINK},
    {"root's link in another account's directory", 0755, OTHER, LINK_TO_DIRECTORY, ROOT, OWN,
     ENTERED},
    {"a link in a directory only this account writes", 0755, ME, LINK_TO_DIRECTORY, OTHER, OWN,
     ENTERED},
    // Directories of another account: refused where group or others may
    // write, entered where only their directory's owner may.
    {"another account's directory, open to all", 0777, ROOT, DIRECTORY, OTHER, OWN, FOREIGN},
    {"another account's directory, sticky", 01777, ROOT, DIRECTORY, OTHER, OWN, FOREIGN},
    {"another account's directory, its group may write", 0775, OTHER, DIRECTORY, OTHER, OWN,
     FOREIGN},
    {"an installation's tree", 0755, OTHER, DIRECTORY, OTHER, OWN, ENTERED},
    {"own directory in another account's sticky one", 01777, OTHER, DIRECTORY, ME, OWN, ENTERED},
    // The ingest account's directories, for the ingest and bad-file
    // directories: entered, but not through another account's link.
    {"the ingest account's, its group may write", 0775, OTHER, DIRECTORY, OTHER, OTHERS, ENTERED},
    {"the ingest account's, sticky", 01777, OTHER, DIRECTORY, OTHER, OTHERS, ENTERED},
    {"the ingest account's link, sticky", 01777, OTHER, LINK_TO_DIRECTORY, OTHER, OTHERS, LINK},
    {"root's link, open to all", 0777, ROOT, LINK_TO_DIRECTORY, ROOT, OTHERS, LINK},
    // Files read through a link at their name, by the same rule.
    {"reading through root's link, sticky", 01777, ROOT, LINK_TO_FILE, ROOT, OWN, ENTERED},
    {"reading through another's link, sticky", 01777, ROOT, LINK_TO_FILE, OTHER, OWN, SYSTEM},
};

// What one case gave: its refusal, its errno and the inode opened (0 when
// refused).
struct Outcome {
    int refusal;
    int error;
    ino_t inode;
};

Outcome openAs(const Case& c, const std::string& path)
{
    SafeDirectory::Failure failure;
    int fd;
    if (c.kind == LINK_TO_FILE) {
        size_t nameAt = 0;
        const int dir = SafeDirectory::openParent(path.c_str(), &nameAt, 0, &failure);
        fd = SafeDirectory::openFileAt(dir, path.c_str() + nameAt, O_RDONLY, 0,
                                       SafeDirectory::READ_FILE, &failure);
        close(dir);
    } else {
        fd = c.entering == OWN ? SafeDirectory::openPath(path.c_str(), 0, &failure)
                               : SafeDirectory::openOthersPath(path.c_str(), &failure);
    }
    struct stat info = {};
    if (fd >= 0) {
        fstat(fd, &info);
        close(fd);
    }
    return {failure.refusal, failure.error, info.st_ino};
}

ino_t inodeOf(const std::string& path)
{
    struct stat info = {};
    stat(path.c_str(), &info);
    return info.st_ino;
}

} // namespace

TEST(SafeDirectory, EachPartIsJudgedByWhoCouldHaveLaidIt)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "taking other accounts (uids 61001, 61002) needs root";
    TempTree tree;
    ASSERT_EQ(chmod(tree.root().c_str(), 0755), 0);
    const std::string target = tree.mkdirs("target");
    const std::string file = tree.write("target/file", "read\n");
    std::vector<std::string> paths;
    for (const Case& c : cases) {
        const std::string parent = tree.mkdirs("case" + std::to_string(paths.size()));
        const std::string part = parent + "/part";
        if (c.kind == DIRECTORY)
            ASSERT_EQ(mkdir(part.c_str(), 0755), 0);
        else
            ASSERT_EQ(symlink((c.kind == LINK_TO_FILE ? file : target).c_str(), part.c_str()), 0);
        ASSERT_EQ(lchown(part.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(chown(parent.c_str(), c.parentOwner, c.parentOwner), 0);
        ASSERT_EQ(chmod(parent.c_str(), c.parentMode), 0);
        paths.push_back(part);
    }

    int results[2];
    ASSERT_EQ(pipe(results), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(results[0]);
        if (setgroups(0, nullptr) != 0 || setresgid(ME, ME, ME) != 0 ||
            setresuid(ME, ME, ME) != 0)
            _exit(99);
        for (size_t i = 0; i < paths.size(); ++i) {
            const Outcome o = openAs(cases[i], paths[i]);
            if (write(results[1], &o, sizeof o) != static_cast<ssize_t>(sizeof o))
                _exit(98);
        }
        _exit(0);
    }
    close(results[1]);
    for (size_t i = 0; i < paths.size(); ++i) {
        const Case& c = cases[i];
        Outcome o = {-1, 0, 0};
        ASSERT_EQ(read(results[0], &o, sizeof o), static_cast<ssize_t>(sizeof o)) << c.what;
        EXPECT_EQ(o.refusal, c.expected) << c.what;
        if (c.expected != ENTERED) {
            EXPECT_EQ(o.error, c.expected == FOREIGN ? EPERM : ELOOP) << c.what;
        }
        if (c.expected == ENTERED) {
            EXPECT_EQ(o.inode, inodeOf(c.kind == DIRECTORY         ? paths[i]
                                       : c.kind == LINK_TO_FILE ? file
                                                                : target))
                << c.what;
        }
    }
    close(results[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
