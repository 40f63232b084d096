#include "Cdl.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

bool Cdl::available()
{
    const std::string ncgen = QEV_NCGEN;
    return !ncgen.empty() && access(ncgen.c_str(), X_OK) == 0;
}

std::vector<std::string> Cdl::pointDirectories(const std::string& cdl)
{
    const std::string mark = "// point directories:";
    std::vector<std::string> dirs;
    const size_t at = cdl.find(mark);
    if (at == std::string::npos)
        return dirs;
    // The rest of the mark's line only.
    const size_t from = at + mark.size();
    std::istringstream words(cdl.substr(from, cdl.find('\n', from) - from));
    for (std::string dir; words >> dir;)
        dirs.push_back(dir);
    return dirs;
}

bool Cdl::make(const std::string& cdl, const std::string& path, std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!available())
        return fail("ncgen not found");
    const std::string source = path + ".cdl";
    const std::string messages = path + ".ncgen";
    {
        std::ofstream out(source);
        out << cdl;
        if (!out)
            return fail("cannot write " + source);
    }
    unlink(path.c_str());
    pid_t pid = fork();
    if (pid < 0)
        return fail("fork failed");
    if (pid == 0) {
        int fd = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        const std::string ncgen = QEV_NCGEN;
        execl(ncgen.c_str(), "ncgen", "-b", "-k", "classic", "-o", path.c_str(), source.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return fail("ncgen could not be waited for");
    }
    std::ifstream in(messages);
    std::stringstream text;
    text << in.rdbuf();
    unlink(messages.c_str());
    unlink(source.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return fail("ncgen failed for " + path + ": " + text.str());
    return true;
}
