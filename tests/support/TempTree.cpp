#include "TempTree.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

TempTree::TempTree()
{
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/qevtest.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("TempTree: mkdtemp failed: " + std::string(strerror(errno)));
    _root = buf.data();
    for (const char* d : {"home", "qev_home", "qev_home/data", "qev_data", "log"})
        fs::create_directories(_root + "/" + d);
    setEnv("QEV_HOME", qevHome().c_str());
    setEnv("QEV_DATA", qevData().c_str());
    setEnv("LOG_DIR", logDir().c_str());
    setEnv("HOME", home().c_str());
}

TempTree::~TempTree()
{
    for (auto it = _saved.rbegin(); it != _saved.rend(); ++it) {
        if (it->second.first)
            setenv(it->first.c_str(), it->second.second.c_str(), 1);
        else
            unsetenv(it->first.c_str());
    }
    std::error_code ec;
    fs::remove_all(_root, ec);
}

void TempTree::setEnv(const char* name, const char* value)
{
    const char* old = getenv(name);
    _saved.push_back({name, {old != nullptr, old ? old : ""}});
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

std::string TempTree::write(const std::string& rel, const std::string& text) const
{
    std::string p = path(rel);
    fs::create_directories(fs::path(p).parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    return p;
}

std::string TempTree::mkdirs(const std::string& rel) const
{
    std::string p = path(rel);
    fs::create_directories(p);
    return p;
}

std::string TempTree::readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool TempTree::exists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(path, ec);
}

std::vector<std::string> TempTree::listFiles(const std::string& dir)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        // Lexically, touching nothing: a file that goes meanwhile (the
        // decoder unlinks it) is listed or not, never an error.
        std::error_code gone;
        if (it->is_regular_file(gone) && !gone)
            out.push_back(it->path().lexically_relative(dir).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}
