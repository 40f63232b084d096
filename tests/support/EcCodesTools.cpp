#include "EcCodesTools.h"

#include "EcCodesDump.h"
#include "TempTree.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Paths in single quotes for the shell (test paths hold none).
std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

std::string firstLine(const std::string& text)
{
    std::string::size_type b = text.find_first_not_of(" \n");
    return b == std::string::npos ? std::string() : text.substr(b, text.find('\n', b) - b);
}

// "tool: " and the first line of the tool's messages that reports an error,
// else its first line, else its exit status.
std::string failure(const char* tool, int status, const std::string& errors)
{
    std::string::size_type at = errors.find("ERROR");
    std::string why =
        firstLine(at == std::string::npos ? errors : errors.substr(errors.rfind('\n', at) + 1));
    return std::string(tool) + ": " + (why.empty() ? "exit status " + std::to_string(status) : why);
}

// Filter rules in a file beside `base`, as a quoted argument.
std::string rules(const std::string& base, const std::string& text)
{
    std::ofstream(base + ".rules") << text;
    return quoted(base + ".rules");
}

} // namespace

EcCodesTools::EcCodesTools()
{
    std::string dump = QEV_BUFR_DUMP;
    _dir = dump.substr(0, dump.rfind('/') == std::string::npos ? 0 : dump.rfind('/'));
    for (const char* name : {"bufr_dump", "bufr_filter", "bufr_set"})
        if (access(program(name).c_str(), X_OK) != 0) {
            _missing = name;
            break;
        }
}

std::string EcCodesTools::missingReason() const
{
    return _missing.empty() ? std::string()
                            : "ecCodes' " + _missing +
                                  " is not installed (scripts/setup installs it)";
}

int EcCodesTools::run(const char* name, const std::string& args, const std::string& base,
                      std::string& out, std::string& err) const
{
    std::string command = quoted(program(name)) + " " + args + " > " + quoted(base + ".out") +
                          " 2> " + quoted(base + ".err");
    if (!_overlay.empty())
        command = "ECCODES_DEFINITION_PATH=" +
                  quoted(_overlay + ":/usr/share/eccodes/definitions") + " " + command;
    int status = std::system(command.c_str());
    out = TempTree::readFile(base + ".out");
    err = TempTree::readFile(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool EcCodesTools::dump(const std::string& file, EcCodesDump& out, std::string& error) const
{
    if (!_missing.empty()) {
        error = _missing + " is not installed";
        return false;
    }
    std::string json, err;
    int status = run("bufr_dump", "-ja " + quoted(file), file, json, err);
    if (status != 0 || err.find("ERROR") != std::string::npos) {
        error = failure("bufr_dump", status, err);
        return false;
    }
    if (!out.parseJson(json, error)) {
        error = "bufr_dump output: " + error;
        return false;
    }
    std::string listing;
    status = run("bufr_filter", rules(file, "set unpack=1;\nprint \"[numericValues!1%.17g]\";\n") +
                 " " + quoted(file), file, listing, err);
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
    int status = run("bufr_set", "-s masterTablesVersionNumber=" + std::to_string(version) + " " +
                     quoted(in) + " " + quoted(out), out, o, err);
    if (status != 0)
        error = failure("bufr_set", status, err);
    return status == 0;
}

bool EcCodesTools::encode(const std::string& text, int edition, const std::string& out,
                          std::string& error) const
{
    const char* samples = std::getenv("ECCODES_SAMPLES_PATH");
    std::string sample = std::string(samples && *samples ? samples : "/usr/share/eccodes/samples") +
                         (edition == 3 ? "/BUFR3.tmpl" : "/BUFR4.tmpl");
    std::string o, err;
    int status = run("bufr_filter", "-o " + quoted(out) + " " + rules(out, text) + " " +
                     quoted(sample), out, o, err);
    if (status != 0 || TempTree::readFile(out).empty()) {
        error = failure("bufr_filter", status, err);
        return false;
    }
    return true;
}
