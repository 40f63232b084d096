// Reading the routing layer's small text files (the product-key patterns,
// the comms router's clients file, the data router's child programs): lines
// of whitespace-separated words, each line and each word bounded, so that no
// file can make a reader hold more than it expects.
#ifndef READWORDLINES_H
#define READWORDLINES_H

#include <cstdio>
#include <functional>
#include <vector>

#include "TextString.h"

// Called with the number (from 1) and the words (at least one) of a line;
// false stops the reading.
typedef std::function<bool(int lineNumber, const std::vector<TextString>& words)>
    WordLineHandler;

// Reads the open file to its end.  A line longer than maxLine characters,
// or holding a word longer than maxWord, is skipped with a PROBLEM line
// naming the file and the line number; a line without words is skipped
// silently.  True at the end of the file or when the handler stopped; false
// on a read error, with errno as the read left it.
bool readWordLines(FILE* file, const TextString& path, int maxLine, int maxWord,
                   const WordLineHandler& handle);

// The PROBLEM line of a skipped line: "<path> line <n>: <why>; line skipped".
void logSkippedLine(const TextString& path, int lineNumber, const TextString& why);

#endif
