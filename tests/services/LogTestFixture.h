// A test of the log stream with its own files: a TempTree, the log file and
// the collective file inside it (reopened for the test), and the stream's
// switches put back afterwards.
#ifndef LOGTESTFIXTURE_H
#define LOGTESTFIXTURE_H

#include "LogCapture.h"
#include "LogPrefixSettings.h"
#include "LogStream.h"
#include "TempTree.h"
#include "TextString.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

using Lines = std::vector<std::string>;

class LogFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        _tree = std::make_unique<TempTree>();
        _tree->setEnv("LOG_FILE", logPath().c_str());
        _tree->setEnv("COLLECTIVE_FILE", collectivePath().c_str());
        LogStream::breakFiles();
    }

    void TearDown() override
    {
        LogStream::resetFilters();
        LogStream::setForceEndl(true);
        LogStream::setAbortMask(~0u, false);
        LogStream::setAbortMask(LogStream::FATAL, true);
        LogPrefixSettings& p = LogStream::prefixSettings();
        p.flags[0] = p.flags[1] = p.flags[2] = 0;
        p.verbosePrefixMask = 0;
        LogStream::breakFiles();
        _tree.reset();
    }

    TempTree& tree() { return *_tree; }
    std::string logPath() const { return _tree->logDir() + "/process.log"; }
    std::string collectivePath() const { return _tree->logDir() + "/collective.log"; }

    static Lines fileLines(const std::string& path)
    {
        Lines out;
        std::istringstream in(TempTree::readFile(path));
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

    // The log file's lines after its "Log file opened" line.
    Lines logMessages() const
    {
        Lines lines = fileLines(logPath());
        if (!lines.empty() && lines[0].rfind("LOG-STATUS: Log file opened on host ", 0) == 0)
            lines.erase(lines.begin());
        return lines;
    }

    Lines collectiveMessages() const { return fileLines(collectivePath()); }

    static TextString myName() { return LogStream::processName(false); }

    // For death tests: the child that aborts leaves no core file.
    static void noCoreDump()
    {
        struct rlimit none = {0, 0};
        setrlimit(RLIMIT_CORE, &none);
    }

private:
    std::unique_ptr<TempTree> _tree;
};

#endif
