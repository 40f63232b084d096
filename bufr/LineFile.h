// A text file read one whole line at a time, however long the line, and
// closed when the object goes, so every early return of a reader closes it.
// Line ends are normalised: "\r\n" reads like "\n", and a last line without
// its newline reads as if it had one.
#ifndef LINEFILE_H
#define LINEFILE_H

#include <cstdio>

#include "TextString.h"

class LineFile {
public:
    explicit LineFile(const TextString& path);
    ~LineFile();
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;

    bool isOpen() const { return _file != nullptr; }
    // The stream, for readers that take it in pieces of their own.
    FILE* handle() const { return _file; }

    // The next line, ending in "\n" when keepNewline is set and without its
    // line end otherwise; false at the end of the file.
    bool readLine(TextString& line, bool keepNewline);

private:
    FILE* _file;
    char* _buffer;
    size_t _capacity;
};

#endif
