// The pattern routines of the routing layer: client patterns compiled and
// matched by the layer's own regular-expression engine, and product keys
// found in the text of a product by the literal prefixes of the patterns
// file "$QEV_HOME/data/patterns.txt".
//
// findProductKey keeps the patterns (read once) and its result in
// process-wide storage: main thread only.
#ifndef PRODUCTKEYPATTERNS_H
#define PRODUCTKEYPATTERNS_H

#include "SeqOf.h"
#include "TextString.h"
#include "qvRegexp.h"

enum {
    PATTERN_WORD_MAX = 63,   // the longest word of the patterns file
    PRODUCT_KEY_MAX = 20     // the longest product key
};

// The compiled pattern, or null (the engine's error, and a BUG line).
QvRegexp* compileRegExp(const char* pattern);
// Whether the compiled pattern matches somewhere in the text; false for a
// null text.
bool matchRegExp(QvRegexp* program, const char* text);

// The words of the patterns file in file order, for the caller to delete;
// null (logged) when the file cannot be opened or read.  A line with a word
// longer than PATTERN_WORD_MAX characters is skipped with a log line.
SeqOf<TextString>* readPatternsFile();

// The key in the data: the text from the first place where a pattern
// starts to the first blank, at most PRODUCT_KEY_MAX characters, never past
// the length given nor past a zero byte.  Null when no pattern occurs, when
// the length is 0 or less, or when the patterns cannot be read.  The text
// stays valid until the next call.
const char* findProductKey(const char* data, int length);

#endif
