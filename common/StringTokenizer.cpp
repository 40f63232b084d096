#include "StringTokenizer.h"

#include <cstring>
#include <ostream>

StringTokenizer::StringTokenizer(const TextString& text)
    : str(text), _delim(" \t\n\r"), returnTokens(false)
{
}

StringTokenizer::StringTokenizer(const TextString& text, const TextString& delimiters,
                                 bool returnDelimiters)
    : str(text), _delim(delimiters), returnTokens(returnDelimiters)
{
}

bool StringTokenizer::isDelimiter(char c) const
{
    return std::strchr(_delim.c_str(), c) != nullptr;
}

int StringTokenizer::runEnd(int from) const
{
    const int length = int(str.length());
    if (from < 0 || from >= length)
        return -1;
    const char* text = str.c_str();
    const bool delimiterRun = isDelimiter(text[from]);
    int pos = from + 1;
    while (pos < length && isDelimiter(text[pos]) == delimiterRun)
        ++pos;
    return pos;
}

bool StringTokenizer::tokenBounds(int from, int& start, int& end) const
{
    const int length = int(str.length());
    if (from < 0 || from >= length)
        return false;
    const char* text = str.c_str();
    if (isDelimiter(text[from])) {
        if (returnTokens) {
            start = from;
            end = runEnd(from) - 1;
            return true;
        }
        from = runEnd(from);
        if (from >= length)
            return false;
    }
    start = from;
    end = runEnd(from) - 1;
    return true;
}

int StringTokenizer::countTokens() const
{
    int count = 0;
    int start = 0;
    int end = -1;
    while (tokenBounds(end + 1, start, end))
        ++count;
    return count;
}

TextString StringTokenizer::nextToken()
{
    int start = 0;
    int end = 0;
    if (!tokenBounds(0, start, end))
        return TextString();
    TextString token(str.c_str() + start, end - start + 1);
    str.remove(0, end + 1);
    return token;
}

std::ostream& operator<<(std::ostream& out, const StringTokenizer& tokenizer)
{
    out << "StringTokenizer(str = " << '"' << tokenizer.str.c_str() << '"' << ", _delim = " << '"'
        << tokenizer._delim.c_str() << '"' << ", returnTokens = " << int(tokenizer.returnTokens)
        << ")";
    return out;
}
