#include "InfoFileServer.h"

#include "LogStream.h"
#include "LogText.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Entries and words are separated by runs of control bytes, blanks and bytes
// of 128 and above.
bool isSeparator(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u <= 32 || u >= 128;
}

// The words of text: (start, length) of each run of non-separator bytes.
template <class Visit>
void forEachWord(const std::string& text, Visit visit)
{
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && !isSeparator(text[i]))
            ++i;
        if (i > start)
            visit(start, text.substr(start, i - start));
    }
}

// Function-local statics, so that a look-up made during another file's
// static initialisation finds them ready.
SeqOf<TextString>& theSearchList()
{
    static SeqOf<TextString> list;
    return list;
}

bool& searchListBuilt()
{
    static bool built = false;
    return built;
}

TextString& theLastPath()
{
    static TextString path;
    return path;
}

// Room for a value that keeps referring to variables: at most this many
// references more than the text held, and no expansion beyond this length.
const int extraExpansionPasses = 64;
const int maxExpandedLength = 65536;

}  // namespace

void expandEnvVars(TextString& text)
{
    std::string s = text.c_str();
    size_t dollar = s.find('$');
    if (dollar == std::string::npos)
        return;
    int passesLeft = extraExpansionPasses;
    for (char c : s)
        passesLeft += c == '$';

    while (dollar != std::string::npos) {
        if (passesLeft-- == 0 || s.size() > static_cast<size_t>(maxExpandedLength)) {
            QEV_LOG(LogStream::PROBLEM, "InfoFileServer")
                << "environment references of " << LogText(text)
                << " do not end; expansion stopped"
                << std::endl;
            break;
        }
        size_t nameStart = dollar + 1;
        if (nameStart < s.size() && s[nameStart] == '{')
            ++nameStart;
        size_t nameEnd = s.find_first_of("$/}", nameStart);
        if (nameEnd == std::string::npos)
            nameEnd = s.size();
        size_t rest = nameEnd;
        if (rest < s.size() && s[rest] == '}')
            ++rest;
        const char* value = getenv(s.substr(nameStart, nameEnd - nameStart).c_str());
        s = s.substr(0, dollar) + (value ? value : "") + s.substr(rest);
        dollar = s.find('$');
    }
    text = TextString(s.c_str());
}

SeqOf<TextString> InfoFileServer::buildSearchList(const char* defaultPaths)
{
    SeqOf<TextString> entries;
    bool withDefaults = true;
    if (defaultPaths) {
        withDefaults = defaultPaths[0] == '+';
        forEachWord(defaultPaths + (withDefaults ? 1 : 0),
                    [&](size_t, const std::string& word) { entries.append(word.c_str()); });
    }
    if (withDefaults) {
        entries.append("${QEV_LOCALIZATION_ROOT}/${QEV_LOCAL_SITE}/");
        entries.append("${QEV_NATL_CONFIG_DATA}/nationalData/");
        entries.append("${QEV_HOME}/data/");
    }
    entries.append("");

    SeqOf<TextString> list;
    const SeqOf<TextString>& all = entries;
    for (int i = 0; i < all.length(); ++i) {
        TextString entry = all[i];
        if (entry == "+")
            entry = "";
        else
            expandEnvVars(entry);
        if (list.find(entry) < 0)
            list.append(entry);
    }
    return list;
}

void InfoFileServer::ensureSearchList()
{
    if (searchListBuilt())
        return;
    searchListBuilt() = true;
    theSearchList() = buildSearchList(getenv("FILE_SERVER_DEFAULT_PATHS"));
    const SeqOf<TextString>& list = theSearchList();
    for (int i = 0; i < list.length(); ++i)
        QEV_LOG(LogStream::VERBOSE, "InfoFileServer") << "default path: " << LogText(list[i])
                                                      << std::endl;
}

const SeqOf<TextString>& InfoFileServer::searchList()
{
    ensureSearchList();
    return theSearchList();
}

TextString InfoFileServer::findFile(const TextString& name)
{
    return findFile(name, searchList());
}

TextString InfoFileServer::findFile(const TextString& name, const SeqOf<TextString>& searchDirs)
{
    std::string text = name.c_str();
    size_t lastBar = std::string::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '|') {
            text[i] = ' ';
            lastBar = i;
        }
    }

    SeqOf<TextString> dirs = searchDirs;
    if (lastBar != std::string::npos) {
        if (text[0] == '+')
            text[0] = ' ';
        else
            dirs = SeqOf<TextString>(TextString());
    }

    TextString found;
    forEachWord(text, [&](size_t start, const std::string& word) {
        if (found.length() > 0)
            return;
        TextString expanded(word.c_str());
        expandEnvVars(expanded);
        if (lastBar != std::string::npos && start < lastBar) {
            dirs.append(expanded);
            return;
        }
        const SeqOf<TextString>& tryDirs = dirs;
        for (int i = 0; i < tryDirs.length(); ++i) {
            TextString path = tryDirs[i] + expanded;
            theLastPath() = path;
            if (access(path.c_str(), R_OK) == 0) {
                found = path;
                return;
            }
        }
    });
    return found;
}

FILE* InfoFileServer::openFile(const TextString& name)
{
    TextString path = findFile(name);
    if (path.length() == 0)
        return nullptr;
    return fopen(path.c_str(), "r");
}

bool InfoFileServer::exists(const TextString& name)
{
    FILE* file = openFile(name);
    if (!file)
        return false;
    fclose(file);
    return true;
}

FILE* InfoFileServer::openForWriting(TextString& name)
{
    expandEnvVars(name);
    std::string text = name.c_str();
    size_t first = 0;
    while (first < text.size() && isSeparator(text[first]))
        ++first;
    size_t last = text.size();
    while (last > first && isSeparator(text[last - 1]))
        --last;
    name = TextString(text.substr(first, last - first).c_str());
    if (name.length() == 0)
        return nullptr;

    const SeqOf<TextString>& dirs = searchList();
    for (int i = 0; i < dirs.length(); ++i) {
        theLastPath() = dirs[i] + name;
        FILE* file = fopen(theLastPath().c_str(), "w");
        if (file)
            return file;
    }
    return nullptr;
}

TextString InfoFileServer::lastPath()
{
    return theLastPath();
}

bool InfoFileServer::isIncludeLine(const TextString& line, TextString& name, bool& hasName)
{
    hasName = false;
    if (strncmp(line.c_str(), "#include", 8) != 0)
        return false;
    const char* open = strchr(line.c_str(), '"');
    const char* close = open ? strchr(open + 1, '"') : nullptr;
    if (close) {
        name = TextString(open + 1, static_cast<int>(close - open - 1));
        hasName = true;
    }
    return true;
}

bool InfoFileServer::includeAllowed(FILE* file, const TextString& path,
                                    const SeqOfPtr<FILE*>& open, const char* sourceFile)
{
    if (open.length() >= maxIncludeDepth) {
        QEV_LOG(LogStream::PROBLEM, sourceFile)
            << "Include of " << LogText(path) << " skipped: more than " << int(maxIncludeDepth)
            << " files nested" << std::endl;
        return false;
    }
    struct stat mine;
    if (fstat(fileno(file), &mine) != 0)
        return true;
    for (int i = 0; i < open.length(); ++i) {
        struct stat other;
        if (fstat(fileno(open[i]), &other) == 0 && other.st_dev == mine.st_dev &&
            other.st_ino == mine.st_ino) {
            QEV_LOG(LogStream::PROBLEM, sourceFile)
                << "Include of " << LogText(path) << " skipped: it is already being read"
                << std::endl;
            return false;
        }
    }
    return true;
}

FILE* InfoFileServer::openIncluded(const TextString& name, const SeqOfPtr<FILE*>& open,
                                   const char* sourceFile, TextString& path)
{
    FILE* file = openFile(name);
    if (!file)
        return nullptr;
    path = lastPath();
    if (!includeAllowed(file, path, open, sourceFile)) {
        fclose(file);
        return nullptr;
    }
    return file;
}
