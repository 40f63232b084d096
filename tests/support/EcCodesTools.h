// ecCodes' command-line tools as the tests' independent BUFR decoder and
// encoder: bufr_dump and bufr_filter read messages, bufr_filter also writes
// them from filter rules, and bufr_set changes keys of a message (the master
// table version, to make ecCodes decode with the project's tables).
//
// The programs are looked for beside the bufr_dump that the build found
// (QEV_BUFR_DUMP).  They run without a shell, so paths need no quoting.
#ifndef ECCODESTOOLS_H
#define ECCODESTOOLS_H

#include <string>
#include <vector>

class EcCodesDump;

class EcCodesTools {
public:
    EcCodesTools();

    // Empty when every program is there, else the first one missing.
    const std::string& missing() const { return _missing; }
    // Empty, or the line a test that needs the programs skips with.
    std::string missingReason() const
    {
        return _missing.empty() ? std::string()
                                : "ecCodes' " + _missing +
                                      " is not installed (scripts/setup installs it)";
    }

    // A definitions folder searched before ecCodes' own (local tables of a
    // centre); empty for ecCodes' own only.
    void setDefinitionOverlay(const std::string& dir) { _overlay = dir; }

    // The values of the one message in `file` (bufr_dump -ja and the full
    // numbers of bufr_filter's numericValues).
    bool dump(const std::string& file, EcCodesDump& out, std::string& error) const;
    // A copy of every message of `in` with another master table version.
    bool setMasterTablesVersion(const std::string& in, const std::string& out, int version,
                                std::string& error) const;
    // Runs filter rules (ending in "write;") over ecCodes' edition 3 or 4
    // sample message into `out`.
    bool encode(const std::string& rules, int edition, const std::string& out,
                std::string& error) const;

    // Runs a program with `input` on its standard input; returns its exit
    // status (-1 when it could not run or died of a signal).
    int run(const std::vector<std::string>& argv, const std::string& input, std::string& out,
            std::string& err) const;

private:
    std::string program(const char* name) const;
    static std::string firstLine(const std::string& text);
    // The first line of a tool's messages that reports an error (ecCodes
    // reports some errors with exit status 0).
    static std::string firstError(const std::string& text);
    // "tool: " and the tool's first error line (or its exit status).
    static std::string failure(const char* tool, int status, const std::string& errors);

    std::string _dir;
    std::string _missing;
    std::string _overlay;
};

#endif
