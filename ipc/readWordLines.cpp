#include "readWordLines.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "LogStream.h"
#include "LogText.h"

namespace {

const char* const blanks = " \t\r\n\v\f";

void logSkipped(const TextString& path, int lineNumber, const char* why, int bound)
{
    logSkippedLine(path, lineNumber,
                   TextString(why) + TextString(" ") + TextString(std::to_string(bound).c_str()) +
                       TextString(" characters"));
}

}  // namespace

void logSkippedLine(const TextString& path, int lineNumber, const TextString& why)
{
    QEV_LOG(LogStream::PROBLEM, "readWordLines")
        << LogText(path) << " line " << lineNumber << ": " << why << "; line skipped" << std::endl;
}

bool readWordLines(FILE* file, const TextString& path, int maxLine, int maxWord,
                   const WordLineHandler& handle)
{
    // Room for the longest line, its newline and the terminating zero.
    std::vector<char> buffer(static_cast<size_t>(maxLine) + 2);
    std::vector<TextString> words;
    for (int lineNumber = 1;; ++lineNumber) {
        errno = 0;
        if (!std::fgets(buffer.data(), static_cast<int>(buffer.size()), file))
            return !std::ferror(file);
        char* line = buffer.data();
        size_t n = std::strlen(line);
        const bool ended = n > 0 && line[n - 1] == '\n';
        if (!ended && n > static_cast<size_t>(maxLine)) {
            // Too long: the rest of the line goes unread.
            for (int c; (c = std::fgetc(file)) != EOF && c != '\n';) {
            }
            if (std::ferror(file))
                return false;
            logSkipped(path, lineNumber, "longer than", maxLine);
            continue;
        }
        words.clear();
        bool tooLong = false;
        for (char* p = line + std::strspn(line, blanks); *p; p += std::strspn(p, blanks)) {
            n = std::strcspn(p, blanks);
            if (n > static_cast<size_t>(maxWord))
                tooLong = true;
            words.push_back(TextString(p, static_cast<int>(n)));
            p += n;
        }
        if (tooLong) {
            logSkipped(path, lineNumber, "a word longer than", maxWord);
            continue;
        }
        if (!words.empty() && !handle(lineNumber, words))
            return true;
    }
}
