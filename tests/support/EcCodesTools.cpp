#include "EcCodesTools.h"

#include "EcCodesDump.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

bool executable(const std::string& path)
{
    return access(path.c_str(), X_OK) == 0;
}

// The environment of the child: ours, with ECCODES_DEFINITION_PATH set to
// the overlay followed by ecCodes' own definitions.
std::vector<std::string> childEnvironment(const std::string& overlay)
{
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        bool replaced = !overlay.empty() && std::strncmp(*e, "ECCODES_DEFINITION_PATH=", 24) == 0;
        if (!replaced)
            env.push_back(*e);
    }
    if (!overlay.empty())
        env.push_back("ECCODES_DEFINITION_PATH=" + overlay + ":/usr/share/eccodes/definitions");
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& words)
{
    std::vector<char*> p;
    for (std::string& w : words)
        p.push_back(&w[0]);
    p.push_back(nullptr);
    return p;
}

} // namespace

EcCodesTools::EcCodesTools()
{
#ifdef QEV_BUFR_DUMP
    std::string dump = QEV_BUFR_DUMP;
#else
    std::string dump;
#endif
    std::string::size_type slash = dump.rfind('/');
    if (slash != std::string::npos)
        _dir = dump.substr(0, slash);
    for (const char* name : {"bufr_dump", "bufr_filter", "bufr_set"})
        if (!executable(program(name))) {
            _missing = name;
            break;
        }
}

std::string EcCodesTools::program(const char* name) const
{
    return _dir + "/" + name;
}

std::string EcCodesTools::firstLine(const std::string& text)
{
    std::string::size_type b = text.find_first_not_of(" \n");
    if (b == std::string::npos)
        return std::string();
    return text.substr(b, text.find('\n', b) - b);
}

std::string EcCodesTools::firstError(const std::string& text)
{
    std::string::size_type at = text.find("ERROR");
    if (at == std::string::npos)
        return std::string();
    std::string::size_type lineStart = text.rfind('\n', at);
    return firstLine(text.substr(lineStart == std::string::npos ? 0 : lineStart));
}

std::string EcCodesTools::failure(const char* tool, int status, const std::string& errors)
{
    std::string why = firstError(errors);
    if (why.empty())
        why = firstLine(errors);
    return std::string(tool) + ": " + (why.empty() ? "exit status " + std::to_string(status) : why);
}

int EcCodesTools::run(const std::vector<std::string>& argv, const std::string& input,
                      std::string& out, std::string& err) const
{
    out.clear();
    err.clear();
    int in[2], o[2], e[2];
    if (pipe(in) != 0)
        return -1;
    if (pipe(o) != 0) {
        close(in[0]), close(in[1]);
        return -1;
    }
    if (pipe(e) != 0) {
        close(in[0]), close(in[1]), close(o[0]), close(o[1]);
        return -1;
    }
    std::vector<std::string> args(argv);
    std::vector<std::string> env = childEnvironment(_overlay);
    std::vector<char*> argp = pointers(args);
    std::vector<char*> envp = pointers(env);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(o[1], 1);
        dup2(e[1], 2);
        for (int fd : {in[0], in[1], o[0], o[1], e[0], e[1]})
            close(fd);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(o[1]);
    close(e[1]);
    if (pid < 0) {
        close(in[1]), close(o[0]), close(e[0]);
        return -1;
    }
    // Feed the input while draining both outputs, so that no pipe fills up.
    std::size_t fed = 0;
    int toChild = in[1];
    if (input.empty()) {
        close(toChild);
        toChild = -1;
    } else {
        fcntl(toChild, F_SETFL, O_NONBLOCK);
    }
    std::string* sinks[2] = {&out, &err};
    int fds[2] = {o[0], e[0]};
    struct sigaction ignore, saved;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
    while (fds[0] >= 0 || fds[1] >= 0) {
        pollfd p[3];
        int n = 0;
        for (int i = 0; i < 2; ++i)
            p[n++] = pollfd{fds[i], POLLIN, 0};
        p[n++] = pollfd{toChild, POLLOUT, 0};
        if (poll(p, n, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[65536];
            ssize_t got = read(fds[i], buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i]);
                fds[i] = -1;
            }
        }
        if (toChild >= 0 && (p[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t put = write(toChild, input.data() + fed, input.size() - fed);
            if (put > 0)
                fed += static_cast<std::size_t>(put);
            if ((put < 0 && errno != EAGAIN && errno != EINTR) || fed == input.size()) {
                close(toChild);
                toChild = -1;
            }
        }
    }
    if (toChild >= 0)
        close(toChild);
    sigaction(SIGPIPE, &saved, nullptr);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool EcCodesTools::dump(const std::string& file, EcCodesDump& out, std::string& error) const
{
    if (!_missing.empty()) {
        error = _missing + " is not installed";
        return false;
    }
    std::string json, err;
    int status = run({program("bufr_dump"), "-ja", file}, std::string(), json, err);
    if (status != 0 || !firstError(err).empty()) {
        error = failure("bufr_dump", status, err);
        return false;
    }
    if (!out.parseJson(json, error)) {
        error = "bufr_dump output: " + error;
        return false;
    }
    std::string listing;
    status = run({program("bufr_filter"), "-", file},
                 "set unpack=1;\nprint \"[numericValues!1%.17g]\";\n", listing, err);
    std::vector<double> numbers;
    if (status != 0 || !EcCodesDump::readNumbers(listing, numbers)) {
        error = failure("bufr_filter numericValues", status, err);
        return false;
    }
    return out.applyNumericValues(numbers, error);
}

bool EcCodesTools::setMasterTablesVersion(const std::string& in, const std::string& out,
                                          int version, std::string& error) const
{
    std::string o, err;
    int status = run({program("bufr_set"), "-s",
                      "masterTablesVersionNumber=" + std::to_string(version), in, out},
                     std::string(), o, err);
    if (status != 0) {
        error = failure("bufr_set", status, err);
        return false;
    }
    return true;
}

bool EcCodesTools::encode(const std::string& rules, int edition, const std::string& out,
                          std::string& error) const
{
    const char* samples = std::getenv("ECCODES_SAMPLES_PATH");
    std::string sample = std::string(samples && *samples ? samples : "/usr/share/eccodes/samples") +
                         (edition == 3 ? "/BUFR3.tmpl" : "/BUFR4.tmpl");
    std::string o, err;
    int status = run({program("bufr_filter"), "-o", out, "-", sample}, rules, o, err);
    struct stat st;
    if (status != 0 || stat(out.c_str(), &st) != 0 || st.st_size == 0) {
        error = failure("bufr_filter", status, err);
        return false;
    }
    return true;
}
