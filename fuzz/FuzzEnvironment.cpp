#include "FuzzEnvironment.h"

#include "Cdl.h"
#include "StaticBufrInfo.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string scratchRoot;

std::vector<std::string>& pointDirectories()
{
    static std::vector<std::string> dirs;
    return dirs;
}

void removeScratch()
{
    std::error_code ec;
    fs::remove_all(scratchRoot, ec);
}

// Every category a process logs by default, composed for the file sink
// alone.
const char* const quietPreferences =
    "all all all all = off\n"
    "all all file bug = on\n"
    "all all file problem = on\n"
    "all all file event = on\n"
    "all all file diag = on\n"
    "all all file fatal = on\n"
    "all all file use = on\n";

}  // namespace

// No name service: the harnesses' peers and hosts are made of fuzzed bytes,
// and a look-up would send them to the machine's resolver.  Host names are
// never found (the system then uses the dotted address), and only numeric
// hosts resolve.
extern "C" int getnameinfo(const struct sockaddr*, socklen_t, char*, socklen_t, char*, socklen_t,
                           int)
{
    return EAI_NONAME;
}

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result)
{
    typedef int (*Real)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    struct addrinfo numeric = {};
    if (hints)
        numeric = *hints;
    numeric.ai_flags |= AI_NUMERICHOST | AI_NUMERICSERV;
    return real ? real(node, service, &numeric, result) : EAI_FAIL;
}

const FuzzEnvironment& FuzzEnvironment::instance()
{
    static const FuzzEnvironment environment;
    return environment;
}

FuzzEnvironment::FuzzEnvironment()
{
    const char* base = std::getenv("QEV_FUZZ_SCRATCH");
    if (!base)
        base = std::getenv("TMPDIR");
    std::string pattern = std::string(base ? base : "/tmp") + "/qev-fuzz.XXXXXX";
    std::error_code ec;
    fs::create_directories(fs::path(pattern).parent_path(), ec);
    if (!mkdtemp(&pattern[0]))
        fail("FuzzEnvironment", "cannot make the scratch folder " + pattern);
    _root = pattern;
    scratchRoot = _root;
    std::atexit(removeScratch);

    for (const char* d : {"home", "log", "qev_home/data", "qev_data"})
        fs::create_directories(_root + "/" + d);
    for (const char* table : StaticBufrInfo::tableFiles)
        fs::create_symlink(std::string(QEV_SOURCE_DIR) + "/data/" + table,
                           dataDir() + "/" + table, ec);

    // The log files would be made inside "nowhere", a plain file.
    std::ofstream(_root + "/nowhere");
    std::ofstream(_root + "/logPref") << quietPreferences;
    setenv("HOME", (_root + "/home").c_str(), 1);
    setenv("LOG_DIR", (_root + "/log").c_str(), 1);
    setenv("QEV_HOME", (_root + "/qev_home").c_str(), 1);
    setenv("QEV_DATA", qevData().c_str(), 1);
    setenv("QEV_DUMP_CORE", "1", 1);
    setenv("LOG_PREF", (_root + "/logPref").c_str(), 1);
    setenv("LOG_FILE", (_root + "/nowhere/log").c_str(), 1);
    setenv("COLLECTIVE_FILE", (_root + "/nowhere/collective").c_str(), 1);
}

void FuzzEnvironment::writeFile(const std::string& path, const uint8_t* data, size_t size)
{
    // Never through a link: the scratch tree links the project's own tables.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                          0644);
    size_t done = 0;
    while (fd >= 0 && done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (fd < 0 || done < size || ::close(fd) != 0)
        fail("FuzzEnvironment", "cannot write " + path);
}

std::string FuzzEnvironment::writeFreshDataFile(const char* prefix, const uint8_t* data,
                                                size_t size)
{
    static unsigned long counter = 0;
    const std::string name = prefix + std::to_string(++counter) + ".txt";
    writeFile(instance().dataDir() + "/" + name, data, size);
    return name;
}

void FuzzEnvironment::removeDataFile(const std::string& name)
{
    std::remove((instance().dataDir() + "/" + name).c_str());
}

void FuzzEnvironment::installStore()
{
    static const bool installed = [] {
        const FuzzEnvironment& e = instance();
        std::error_code ec;
        const std::string source = std::string(QEV_SOURCE_DIR) + "/data";
        for (const fs::directory_entry& f : fs::directory_iterator(source)) {
            const fs::path link = e.dataDir() + "/" + f.path().filename().string();
            if (f.is_regular_file() && !fs::exists(fs::symlink_status(link)))
                fs::create_symlink(f.path(), link, ec);
            if (ec)
                fail("FuzzEnvironment", "cannot link " + link.string());
        }
        for (const fs::directory_entry& f : fs::directory_iterator(source + "/templates")) {
            if (f.path().extension() != ".cdl")
                continue;
            const std::string made =
                std::string(QEV_FUZZ_TEMPLATES) + "/" + f.path().stem().string();
            std::ifstream in(f.path());
            std::ostringstream cdl;
            cdl << in.rdbuf();
            for (const std::string& dir : Cdl::pointDirectories(cdl.str())) {
                const std::string at = e.qevData() + "/point/" + dir;
                fs::create_directories(at, ec);
                if (ec || !fs::copy_file(made, at + "/template", ec))
                    fail("FuzzEnvironment", "cannot copy " + made + " to " + at);
                pointDirectories().push_back(at);
            }
        }
        if (pointDirectories().empty())
            fail("FuzzEnvironment", "no template names its point directories");
        return true;
    }();
    (void)installed;
}

const std::vector<std::string>& FuzzEnvironment::pointDirs()
{
    return pointDirectories();
}

void FuzzEnvironment::clearDirectory(const std::string& dir)
{
    std::error_code ec;
    std::vector<fs::path> made;
    for (fs::directory_iterator f(dir, ec), end; !ec && f != end; f.increment(ec))
        if (f->path().filename() != "template")
            made.push_back(f->path());
    if (ec)
        fail("FuzzEnvironment", "cannot list " + dir);
    for (const fs::path& p : made)
        if (fs::remove_all(p, ec) == static_cast<std::uintmax_t>(-1) || ec)
            fail("FuzzEnvironment", "cannot remove " + p.string());
}

void FuzzEnvironment::fail(const char* harness, const std::string& what)
{
    std::fprintf(stderr, "%s: %s\n", harness, what.c_str());
    std::fflush(stderr);
    std::abort();
}
