// A temporary folder for one test, removed when the object goes.  While it
// lives, QEV_HOME, QEV_DATA, LOG_DIR and HOME point into it, so that a test
// never touches the machine's own directories; the previous values come back
// at destruction.
#ifndef TEMPTREE_H
#define TEMPTREE_H

#include <string>
#include <vector>
#include <utility>

class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& root() const { return _root; }
    std::string home() const { return _root + "/home"; }
    std::string qevHome() const { return _root + "/qev_home"; }
    std::string qevData() const { return _root + "/qev_data"; }
    std::string logDir() const { return _root + "/log"; }

    // A path below the root.
    std::string path(const std::string& rel) const { return _root + "/" + rel; }

    // Writes a file below the root (making its folders) and returns its path.
    std::string write(const std::string& rel, const std::string& text) const;
    // Makes a folder below the root (and its parents) and returns its path.
    std::string mkdirs(const std::string& rel) const;

    // Sets an environment variable until the tree goes (or unsets it for a
    // null value).
    void setEnv(const char* name, const char* value);

    static std::string readFile(const std::string& path);
    static bool exists(const std::string& path);
    // Every regular file below a folder, relative to it, sorted.
    static std::vector<std::string> listFiles(const std::string& dir);

private:
    std::string _root;
    std::vector<std::pair<std::string, std::pair<bool, std::string>>> _saved;
};

#endif
