// A test of the log stream with its own files: a TempTree, the log file and
// the collective file inside it (reopened for the test), and the stream's
// switches put back afterwards.
#ifndef LOGTESTFIXTURE_H
#define LOGTESTFIXTURE_H

#include "LogPrefixSettings.h"
#include "LogStream.h"
#include "TempTree.h"
#include "TextString.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

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

    static std::vector<std::string> fileLines(const std::string& path)
    {
        std::vector<std::string> out;
        std::istringstream in(TempTree::readFile(path));
        std::string line;
        while (std::getline(in, line))
            out.push_back(line);
        return out;
    }

    // The log file's lines after its "Log file opened" line.
    std::vector<std::string> logMessages() const
    {
        std::vector<std::string> lines = fileLines(logPath());
        if (!lines.empty() && lines[0].rfind("LOG-STATUS: Log file opened on host ", 0) == 0)
            lines.erase(lines.begin());
        return lines;
    }

    std::vector<std::string> collectiveMessages() const { return fileLines(collectivePath()); }

    static TextString myName() { return LogStream::processName(false); }

private:
    std::unique_ptr<TempTree> _tree;
};

using Lines = std::vector<std::string>;

#endif
