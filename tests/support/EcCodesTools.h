// ecCodes' command-line tools as the tests' independent BUFR decoder and
// encoder: bufr_dump and bufr_filter read messages, bufr_filter also writes
// them from filter rules, and bufr_set changes keys of a message (the master
// table version, to make ecCodes decode with the project's tables).
//
// The programs are looked for beside the bufr_dump that the build found
// (QEV_BUFR_DUMP).  They run through the shell with paths in single quotes
// (test paths hold none); their outputs and filter rules go into files
// beside the message file they work on, so its folder must be writable.
#ifndef ECCODESTOOLS_H
#define ECCODESTOOLS_H

#include <string>

class EcCodesDump;

class EcCodesTools {
public:
    EcCodesTools();

    // Empty when every program is there, else the first one missing.
    const std::string& missing() const { return _missing; }
    // Empty, or the line a test that needs the programs skips with.
    std::string missingReason() const;

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

private:
    std::string program(const char* name) const { return _dir + "/" + name; }
    // Runs "<program> <args>" through the shell, its standard output and
    // error into `base`.out and `base`.err beside the files it works on, and
    // returns its exit status (-1 when it died of a signal).
    int run(const char* name, const std::string& args, const std::string& base,
            std::string& out, std::string& err) const;

    std::string _dir;
    std::string _missing;
    std::string _overlay;
};

#endif
