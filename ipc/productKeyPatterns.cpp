#include "productKeyPatterns.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "LogStream.h"
#include "LogText.h"
#include "readWordLines.h"

namespace {

const char* const sourceFile = "productKeyPatterns";

// The patterns of findProductKey, read on the first call that finds none.
SeqOf<TextString>* productPatterns = nullptr;
char productKey[PRODUCT_KEY_MAX + 1];

// A line of the patterns file may hold several words.
const int PATTERN_LINE_MAX = 1023;

}  // namespace

QvRegexp* compileRegExp(const char* pattern)
{
    QvRegexp* program = qvRegcomp(pattern);
    if (!program) {
        QEV_LOG(LogStream::BUG, sourceFile) << "qvRegcomp failure in " << LogText(pattern)
                                            << std::endl;
    }
    return program;
}

bool matchRegExp(QvRegexp* program, const char* text)
{
    if (!text)
        return false;
    return qvRegexec(program, text) != 0;
}

SeqOf<TextString>* readPatternsFile()
{
    const char* home = std::getenv("QEV_HOME");
    const TextString path = TextString(home ? home : "") + TextString("/data/patterns.txt");
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "unable to open " << LogText(path) << std::endl;
        return nullptr;
    }
    SeqOf<TextString>* patterns = new SeqOf<TextString>;
    const bool read = readWordLines(file, path, PATTERN_LINE_MAX, PATTERN_WORD_MAX,
                                    [patterns](int, const std::vector<TextString>& words) {
                                        for (const TextString& word : words)
                                            patterns->append(word);
                                        return true;
                                    });
    if (!read) {
        QEV_LOG(LogStream::PROBLEM, sourceFile) << "unable to read a pattern - "
                                                << std::strerror(errno) << std::endl;
        delete patterns;
        patterns = nullptr;
    }
    std::fclose(file);
    return patterns;
}

const char* findProductKey(const char* data, int length)
{
    if (!productPatterns) {
        productPatterns = readPatternsFile();
        if (!productPatterns) {
            QEV_LOG(LogStream::PROBLEM, sourceFile) << "Unable to read the patterns file"
                                                    << std::endl;
            return nullptr;
        }
    }
    if (!data || length <= 0)
        return nullptr;
    const SeqOf<TextString>& patterns = *productPatterns;
    int at = -1;
    for (int pos = 0; pos < length && at < 0; ++pos) {
        for (int i = 0; i < patterns.length(); ++i) {
            const int n = patterns[i].length();
            if (n > 0 && n <= length - pos && std::memcmp(data + pos, patterns[i].c_str(), n) == 0) {
                at = pos;
                break;
            }
        }
    }
    if (at < 0)
        return nullptr;
    int n = 0;
    while (n < PRODUCT_KEY_MAX && at + n < length && data[at + n] != '\0' &&
           data[at + n] != ' ') {
        productKey[n] = data[at + n];
        ++n;
    }
    productKey[n] = '\0';
    return productKey;
}
