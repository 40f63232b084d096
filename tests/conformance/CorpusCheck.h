// One corpus file through the project's decoder and ecCodes: the outcome the
// conformance tests assert and the summary line they print.
//
//   [conformance] NAME  msgs M  subsets S  values V  RESULT: notes
//
// RESULT is one of
//   MATCH            every value the decoder reported agrees with ecCodes;
//   FAILED CLEANLY   decode() returned false and logged why (the reason);
//   MISMATCH         the decoder reported values that differ (details follow);
//   NO REASON        decode() returned false without a PROBLEM line;
//   MUST FAIL        a malformed file decoded as if it were sound;
//   UNVERIFIED       decoded, but ecCodes cannot decode the file (why).
// A file with several messages is compared through its first one.  The
// notes say whether the values depend on the table version (the message's
// own against 39) and whether the ref/ dump agrees with ecCodes.
#ifndef CORPUSCHECK_H
#define CORPUSCHECK_H

#include "EcCodesTools.h"

#include <string>
#include <vector>

class CorpusCheck {
public:
    enum Result { Match, FailedCleanly, Mismatch, NoReason, MustFail, Unverified };

    CorpusCheck(const EcCodesTools& tools, const std::string& corpusDir,
                const std::string& scratchDir);

    // The files of the corpus folder (MANIFEST.md and the folders left out).
    static std::vector<std::string> files(const std::string& corpusDir);
    // The corpus's deliberately broken files, which must fail.
    static bool malformed(const std::string& fileName);
    // Files whose values depend on the master table version they name (or,
    // for a version ecCodes lacks, that decode only with the definitions
    // every version shares): they must match.
    static bool versionDependent(const std::string& fileName);

    Result check(const std::string& fileName);

    // A result the tests accept: the same values, or a failure with a reason.
    static bool acceptable(Result r) { return r == Match || r == FailedCleanly || r == Unverified; }
    static const char* resultName(Result r);

    // The summary line, then the detail lines (mismatches, version changes).
    const std::string& summary() const { return _summary; }
    const std::vector<std::string>& details() const { return _details; }
    // Whether the file's values depend on the table version.
    bool tableVersionMatters() const { return _tableVersionMatters; }

private:
    EcCodesTools _tools;
    std::string _corpusDir;
    std::string _scratchDir;
    std::string _summary;
    std::vector<std::string> _details;
    bool _tableVersionMatters = false;
};

#endif
