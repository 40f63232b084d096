#include "splitFields.h"

#include <cctype>

namespace {

bool isWhite(char c)
{
    return isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

int splitFields(char* text, char** fields, int maxFields, char separator)
{
    if (maxFields <= 0)
        return 0;
    int n = 0;
    char* p = text;
    for (;;) {
        while (*p && isWhite(*p))
            ++p;
        fields[n++] = p;
        char* end = p;  // just past the last non-white-space character
        while (*p && *p != separator) {
            if (!isWhite(*p))
                end = p + 1;
            ++p;
        }
        bool atSeparator = *p == separator && *p != '\0';
        *end = '\0';
        if (!atSeparator || n >= maxFields)
            return n;
        ++p;
    }
}

void splitTextLine(const TextString& line, char separator, SeqOf<TextString>& fields)
{
    fields = SeqOf<TextString>();
    const char* text = line.c_str();
    int n = line.length();
    int start = 0;
    while (start <= n) {
        int stop = start;
        while (stop < n && text[stop] != separator)
            ++stop;
        int first = start;
        int last = stop;
        while (first < last && isWhite(text[first]))
            ++first;
        while (last > first && isWhite(text[last - 1]))
            --last;
        fields.append(TextString(text + first, last - first));
        start = stop + 1;
    }
}

void splitWords(const TextString& line, SeqOf<TextString>& words)
{
    words = SeqOf<TextString>();
    const char* text = line.c_str();
    int n = line.length();
    int i = 0;
    while (i < n) {
        while (i < n && isWhite(text[i]))
            ++i;
        int start = i;
        while (i < n && !isWhite(text[i]))
            ++i;
        if (i > start)
            words.append(TextString(text + start, i - start));
    }
}
