#include "CorpusCheck.h"

#include "ConformanceDecoder.h"
#include "CorpusReference.h"
#include "TempTree.h"
#include "ValueComparison.h"

#include <cstdio>
#include <set>

CorpusCheck::CorpusCheck(const EcCodesTools& tools, const std::string& corpusDir,
                         const std::string& scratchDir)
    : _tools(tools), _corpusDir(corpusDir), _scratchDir(scratchDir)
{
}

std::vector<std::string> CorpusCheck::files(const std::string& corpusDir)
{
    std::vector<std::string> names;
    for (const std::string& name : TempTree::listFiles(corpusDir))
        if (name.find('/') == std::string::npos && name[0] != '.' && name != "MANIFEST.md")
            names.push_back(name);
    return names;
}

bool CorpusCheck::malformed(const std::string& name)
{
    static const std::set<std::string> broken = {
        "short3.bufr", "corrupted.bufr", "afl-src4824splice-rep8.bufr", "isaa51_cxto_broken.bufr",
        "multi_invalid_messages.bufr"};
    return broken.count(name) > 0;
}

bool CorpusCheck::versionDependent(const std::string& name)
{
    static const std::set<std::string> files = {"AMDAR+2xUS-v15.bufr", "C08022.bufr",
                                                "ed4-compr-string.bufr", "aseh_139.bufr",
                                                "iuaa01_cwoa_1.bufr"};
    return files.count(name) > 0;
}

const char* CorpusCheck::resultName(Result r)
{
    static const char* const names[] = {"MATCH",     "FAILED CLEANLY", "MISMATCH",
                                        "NO REASON", "MUST FAIL",      "UNVERIFIED"};
    return names[r];
}

CorpusCheck::Result CorpusCheck::check(const std::string& name)
{
    _details.clear();
    CorpusReference ref(_tools, _corpusDir, _scratchDir);
    bool haveReference = ref.load(name);
    std::string bytes = TempTree::readFile(_corpusDir + "/" + name);
    ConformanceDecoder::Decoding decoding = ConformanceDecoder::instance().decode(bytes);

    int compared = 0;
    Result result = Unverified;
    std::string why;
    if (decoding.ok && malformed(name)) {
        result = MustFail;
        why = "a broken file decoded";
    } else if (!decoding.ok) {
        result = decoding.problems.empty() ? NoReason : FailedCleanly;
        why = decoding.reason();
    } else if (!haveReference) {
        result = Unverified;
        why = ref.error();
    } else {
        ValueComparison cmp(decoding.values, ref.reference().subsets());
        compared = cmp.compared();
        result = cmp.agrees() ? Match : Mismatch;
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
    _tableVersionMatters = ref.onlyOwnVersionDecodes() || ref.tableVersionDifferences() > 0;
    if (ref.tableVersionDifferences() > 0) {
        notes.push_back("table version " + std::to_string(ref.messageTablesVersion()) +
                        " -> 39 changes " + std::to_string(ref.tableVersionDifferences()) +
                        " values");
        for (const std::string& d : ref.tableVersionDetails())
            _details.push_back("    table version: " + d);
    }
    for (const std::string& n : ref.notes())
        notes.push_back(n);
    if (!haveReference && result != Unverified)
        notes.push_back("ecCodes: " + ref.error());

    int subsets = haveReference ? ref.reference().subsetCount()
                                : decoding.ok ? decoding.subsets : 0;
    char head[160];
    std::snprintf(head, sizeof head, "[conformance] %-28s msgs %2d  subsets %4d  values %6d  %s",
                  name.c_str(), ref.messages(), subsets, compared, resultName(result));
    _summary = head;
    for (std::size_t i = 0; i < notes.size(); ++i)
        _summary += (i == 0 ? ": " : "; ") + notes[i];
    return result;
}
