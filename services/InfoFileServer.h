// The search path of information files.
//
// Configuration and information files are named by short names and found
// along an ordered list of directory prefixes, built once, on the first
// look-up, from FILE_SERVER_DEFAULT_PATHS and the installation variables.
// The state is process-wide and every operation is static; TextBuffer derives
// from the class to read files found this way.
//
// A name is one or more words separated by blanks; each word is a candidate
// file name tried in every search directory.  Words before the last "|" are
// further directories: "D1/|D2/|F" tries F as given, then D1/F, then D2/F;
// a leading "+" ("+D1/|F") keeps the search list in front of them.
#ifndef INFOFILESERVER_H
#define INFOFILESERVER_H

#include "SeqOf.h"
#include "SeqOfPtr.h"
#include "TextString.h"

#include <cstdio>

class InfoFileServer {
public:
    virtual ~InfoFileServer() {}

    // The full path of the first readable candidate, or the empty text.
    static TextString findFile(const TextString& name);
    // The same along the given directory list instead of the search list.
    static TextString findFile(const TextString& name, const SeqOf<TextString>& searchDirs);
    // findFile, then fopen "r"; null when nothing was found or opened.
    static FILE* openFile(const TextString& name);
    static bool exists(const TextString& name);
    // Expands and trims name (in place), then opens the first search
    // directory + name that fopen "w" accepts; null when none does.
    static FILE* openForWriting(TextString& name);
    // The last candidate path tried: after a successful look-up the path
    // found.
    static TextString lastPath();

    // The process's search list (built on first use).
    static const SeqOf<TextString>& searchList();
    // A search list built from a FILE_SERVER_DEFAULT_PATHS value (null: the
    // variable is not set) and the current environment, without logging.
    static SeqOf<TextString> buildSearchList(const char* defaultPaths);

    // The maximum number of files open at once through nested includes.
    enum { maxIncludeDepth = 16 };

    // Whether a line is an include line: it begins with "#include".  name
    // gets the text between its first two double quotes; false in
    // hasName when there are not two.
    static bool isIncludeLine(const TextString& line, TextString& name, bool& hasName);
    // Whether the file just opened for an include may be read on top of the
    // files open: not when it is one of them (the include would never end)
    // or when maxIncludeDepth files are open.  A refused include is logged
    // at PROBLEM under sourceFile.
    static bool includeAllowed(FILE* file, const TextString& path, const SeqOfPtr<FILE*>& open,
                               const char* sourceFile);
    // openFile for a file to be read on top of the files open: null when
    // it cannot be opened or includeAllowed refuses it (then closed again).
    // path gets the full path found.
    static FILE* openIncluded(const TextString& name, const SeqOfPtr<FILE*>& open,
                              const char* sourceFile, TextString& path);

private:
    static void ensureSearchList();
};

// Replaces each environment reference ("$NAME" or "${NAME}", the name ending
// at "$", "/", "}" or the end) in place; an unset variable gives nothing.
// Values that keep bringing new references stop the expansion after a
// bounded number of passes (logged); the text is then left as it stands.
void expandEnvVars(TextString& text);

#endif
