#include "LogPrefScanner.h"

#include <cctype>
#include <string>
#include <strings.h>

namespace {

struct Keyword {
    const char* text;
    int token;
};

const Keyword keywords[] = {
    {"suppressPrefixForVerbose_", LogPrefScanner::SUPPRESS_PREFIX_FOR_VERBOSE},
    {"all", LogPrefScanner::ALL},
    {"collective", LogPrefScanner::COLLECTIVE},
    {"file", LogPrefScanner::FILE_TOKEN},
    {"tty", LogPrefScanner::TTY},
    {"on", LogPrefScanner::ON},
    {"off", LogPrefScanner::OFF},
    {"timestamp", LogPrefScanner::TIMESTAMP},
    {"processname", LogPrefScanner::PROCESSNAME},
    {"filename", LogPrefScanner::FILENAME},
    {"lineno", LogPrefScanner::LINENO},
    {"abort", LogPrefScanner::ABORT},
    {"traceback", LogPrefScanner::TRACEBACK},
    {"bug", LogPrefScanner::BUG},
    {"problem", LogPrefScanner::PROBLEM},
    {"event", LogPrefScanner::EVENT},
    {"diag", LogPrefScanner::DIAG},
    {"fatal", LogPrefScanner::FATAL},
    {"use", LogPrefScanner::USE},
    {"debug", LogPrefScanner::DEBUG},
    {"verbose", LogPrefScanner::VERBOSE},
    {"forceendl", LogPrefScanner::FORCEENDL},
    {"processid", LogPrefScanner::PROCESSID},
    {"includePrefixForVerbose_", LogPrefScanner::INCLUDE_PREFIX_FOR_VERBOSE},
    {"logdir", LogPrefScanner::LOGDIR},
    {"unixtime", LogPrefScanner::UNIXTIME},
};

// Bytes that end a word.  NUL is no word character either; it is skipped
// like a blank.
bool endsWord(int c)
{
    return c == EOF || c == ' ' || c == '\t' || c == '\n' || c == '#' || c == '=' || c == '\0';
}

}  // namespace

int LogPrefScanner::get()
{
    int c = fgetc(_file);
    if (c == '\n')
        ++_lineNumber;
    return c;
}

int LogPrefScanner::logPref_lex()
{
    int c = get();
    for (;;) {
        if (c == EOF)
            return END;
        if (c == '#') {
            while (c != EOF && c != '\n')
                c = get();
            continue;
        }
        if (c == '=')
            return EQUALS;
        if (!endsWord(c))
            break;
        c = get();
    }

    std::string word;
    while (!endsWord(c)) {
        word += static_cast<char>(c);
        c = fgetc(_file);
    }
    // The byte that ended the word belongs to the next token.
    if (c != EOF)
        ungetc(c, _file);

    for (const Keyword& k : keywords) {
        if (strcasecmp(word.c_str(), k.text) == 0)
            return k.token;
    }
    _text = TextString(word.c_str());
    return NAME;
}
