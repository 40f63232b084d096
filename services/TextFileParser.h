// The logical lines of a text file, one at a time, with includes followed.
//
// Files are found along the information-file search path.  A line beginning
// with "#include" and naming a file in double quotes is replaced by that
// file's lines (an include that cannot be opened is skipped; one of a file
// already being read, or nested more than InfoFileServer::maxIncludeDepth
// deep, is skipped with a PROBLEM line; one without a quoted name is dropped
// with a PROBLEM line).  "#" anywhere starts a comment; a line beginning
// with "//" is a comment; empty lines are skipped.  Lines keep their leading
// and trailing blanks.  location() names the current line and file for the
// owner's messages.
#ifndef TEXTFILEPARSER_H
#define TEXTFILEPARSER_H

#include "SeqOf.h"
#include "SeqOfPtr.h"
#include "TextString.h"
#include "splitFields.h"

#include <cstdio>

class TextFileParser {
public:
    TextFileParser();
    // Closes the files still open when reading stopped before the end.
    ~TextFileParser();
    TextFileParser(const TextFileParser&) = delete;
    TextFileParser& operator=(const TextFileParser&) = delete;

    // Opens name along the search path and makes it the current file; false
    // (nothing changed) when it cannot be opened or must not be included.
    bool pushFile(const TextString& name);
    // Closes the current file and returns to the one that included it.
    void popFile();
    // The next logical line; false at the end of the outermost file (every
    // file is then closed).
    bool nextLine(TextString& line);
    // "line N in file PATH" of the current file.
    TextString location() const;

private:
    FILE* current;
    TextString currentName;
    long currentLine;
    SeqOfPtr<FILE*> files;
    SeqOf<TextString> names;
    SeqOf<unsigned long> lines;
};

#endif
