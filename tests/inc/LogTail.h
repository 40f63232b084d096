// Assertions on the message texts of captured log lines.  Whatever prefix
// the terminal sink puts before a message, its text ends the line.
#ifndef LOGTAIL_H
#define LOGTAIL_H

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

inline bool endsWith(const std::string& line, const std::string& text)
{
    return line.size() >= text.size() &&
           line.compare(line.size() - text.size(), text.size(), text) == 0;
}

// The captured lines are exactly these messages, in this order.
inline ::testing::AssertionResult loggedExactly(const LogCapture& log,
                                                const std::vector<std::string>& texts)
{
    std::vector<std::string> lines = log.lines();
    bool same = lines.size() == texts.size();
    for (size_t i = 0; same && i < lines.size(); ++i)
        same = endsWith(lines[i], texts[i]);
    if (same)
        return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "captured:";
    for (const std::string& line : lines)
        failure << "\n  [" << line << "]";
    failure << "\nexpected messages:";
    for (const std::string& text : texts)
        failure << "\n  [" << text << "]";
    return failure;
}

#endif
