#include "CorpusCheck.h"

#include "ConformanceDecoder.h"
#include "CorpusReference.h"
#include "ValueComparison.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

CorpusCheck::CorpusCheck(const EcCodesTools& tools, const std::string& corpusDir,
                         const std::string& scratchDir)
    : _tools(tools), _corpusDir(corpusDir), _scratchDir(scratchDir)
{
}

std::vector<std::string> CorpusCheck::files(const std::string& corpusDir)
{
    std::vector<std::string> names;
    DIR* dir = opendir(corpusDir.c_str());
    if (!dir)
        return names;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        struct stat st;
        if (name[0] == '.' || name == "MANIFEST.md" ||
            stat((corpusDir + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool CorpusCheck::malformed(const std::string& name)
{
    static const char* const broken[] = {"short3.bufr", "corrupted.bufr",
                                         "afl-src4824splice-rep8.bufr", "isaa51_cxto_broken.bufr",
                                         "multi_invalid_messages.bufr"};
    for (const char* b : broken)
        if (name == b)
            return true;
    return false;
}

const char* CorpusCheck::resultName(Result r)
{
    switch (r) {
    case Match: return "MATCH";
    case FailedCleanly: return "FAILED CLEANLY";
    case Mismatch: return "MISMATCH";
    case NoReason: return "NO REASON";
    case MustFail: return "MUST FAIL";
    case Unverified: return "UNVERIFIED";
    }
    return "?";
}

CorpusCheck::Result CorpusCheck::check(const std::string& name)
{
    _details.clear();
    _tableVersionMatters = false;
    CorpusReference ref(_tools, _corpusDir, _scratchDir);
    bool haveReference = ref.load(name);
    std::string bytes = TempTree::readFile(_corpusDir + "/" + name);
    ConformanceDecoder::Decoding decoding = ConformanceDecoder::instance().decode(bytes);

    int compared = 0;
    std::string why;
    if (decoding.ok && malformed(name)) {
        _result = MustFail;
        why = "a broken file decoded";
    } else if (!decoding.ok) {
        _result = decoding.problems.empty() ? NoReason : FailedCleanly;
        why = decoding.reason();
    } else if (!haveReference) {
        _result = Unverified;
        why = ref.error();
        if (ref.native()) {
            ValueComparison cmp(decoding.values, ref.native()->subsets());
            why += cmp.agrees() ? "; agrees with that decoding"
                                : "; differs from that decoding in " +
                                      std::to_string(cmp.mismatches()) + " values";
        }
    } else {
        ValueComparison cmp(decoding.values, ref.reference().subsets());
        compared = cmp.compared();
        _result = cmp.agrees() ? Match : Mismatch;
        if (!cmp.agrees())
            why = std::to_string(cmp.mismatches()) + " values differ";
        if (cmp.unchecked() > 0)
            why += (why.empty() ? "" : "; ") + std::to_string(cmp.unchecked()) +
                   " compared by value only";
        for (const std::string& d : cmp.details())
            _details.push_back("    " + d);
    }

    std::vector<std::string> notes;
    if (!why.empty())
        notes.push_back(why);
    if (ref.messages() > 1)
        notes.push_back("first of " + std::to_string(ref.messages()) + " messages");
    if (ref.onlyNativeDecodes())
        _tableVersionMatters = true;
    if (ref.tableVersionDifferences() > 0) {
        _tableVersionMatters = true;
        notes.push_back("table version " + std::to_string(ref.messageTablesVersion()) +
                        " -> 39 changes " + std::to_string(ref.tableVersionDifferences()) +
                        " values");
        for (const std::string& d : ref.tableVersionDetails())
            _details.push_back("    table version: " + d);
    }
    for (const std::string& n : ref.notes())
        notes.push_back(n);
    if (!haveReference && _result != Unverified)
        notes.push_back("ecCodes: " + ref.error());

    int subsets = haveReference ? ref.reference().subsetCount()
                                : decoding.ok ? decoding.subsets : 0;
    char head[160];
    std::snprintf(head, sizeof head, "[conformance] %-28s msgs %2d  subsets %4d  values %6d  %s",
                  name.c_str(), ref.messages(), subsets, compared, resultName(_result));
    _summary = head;
    for (std::size_t i = 0; i < notes.size(); ++i)
        _summary += (i == 0 ? ": " : "; ") + notes[i];
    return _result;
}
