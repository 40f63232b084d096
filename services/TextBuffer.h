// A text file read whole into logical lines.
//
// The file is found along the information-file search path.  "//" starts a
// comment that runs to the end of the physical line (a line holding only a
// comment leaves no line); a backslash at the end of a line joins the next
// physical line directly; a line beginning with "#include" and holding a
// name in double quotes is replaced by the lines of that file, found and
// read the same way.  Empty lines stay.  A file that cannot be opened leaves
// the buffer empty; an include of a file already being read, or nested more
// than InfoFileServer::maxIncludeDepth deep, is skipped with a PROBLEM line.
#ifndef TEXTBUFFER_H
#define TEXTBUFFER_H

#include "InfoFileServer.h"

class TextBuffer : public InfoFileServer {
public:
    explicit TextBuffer(const TextString& fileName);
    ~TextBuffer() override {}

    // Writes every line followed by a newline to fileName (its environment
    // references expanded; not along the search path).  False when the file
    // cannot be opened for writing.
    bool write(const TextString& fileName) const;

    // The logical lines, in file order.
    SeqOf<TextString> lines;

private:
    // Appends the lines of an open file; open holds the files being read
    // (this one included) so that includes can be checked against them.
    void read(FILE* file, SeqOfPtr<FILE*>& open);
    void include(const TextString& name, SeqOfPtr<FILE*>& open);
};

#endif
