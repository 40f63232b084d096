// Splitting lines into fields and words.
#ifndef SPLITFIELDS_H
#define SPLITFIELDS_H

#include "SeqOf.h"
#include "TextString.h"

// Splits a writable C string in place at separator: fields[i] points at each
// field with its surrounding white space cut (NULs are written into text).
// At most maxFields fields; what follows the last one is ignored.  Returns
// the number of fields (0 when maxFields is 0 or less); an empty text is one
// empty field, a trailing separator gives one more, empty field.
int splitFields(char* text, char** fields, int maxFields, char separator);

// Replaces fields by the pieces of line between separators, white space cut
// from both ends: k separators always give k + 1 fields.
void splitTextLine(const TextString& line, char separator, SeqOf<TextString>& fields);

// Replaces words by the runs of non-white-space characters of line.
void splitWords(const TextString& line, SeqOf<TextString>& words);

#endif
