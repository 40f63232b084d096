// The value parsers of the configuration file, one per type word.
//
// Each reads one value from the start of text into result and sets rest to
// the text left after it; false when the text does not start with a value
// of that type (result and rest are then of no use).  White space before a
// value is skipped; the file reader has already removed every blank outside
// double quotes.
#ifndef CONFIGPARSERS_H
#define CONFIGPARSERS_H

#include "CartCoord2D.h"
#include "CartDomain2D.h"
#include "SeqOf.h"
#include "TextString.h"

namespace ConfigParsers {

// strtol, base 0 (sign, decimal, "0x" hexadecimal, leading-zero octal); what
// follows the number is left in rest.  A number outside the 32-bit range is
// clamped to it (logged).
bool parseInt(const char* text, int& result, const char*& rest);
// strtod, narrowed to float (a value beyond float's range becomes infinite).
bool parseFloat(const char* text, float& result, const char*& rest);
// A quoted text ("...", blanks kept; rest after the closing quote) or a bare
// one up to the first ',', ')' or newline (rest at that delimiter).
bool parseTextString(const char* text, TextString& result, const char*& rest);
// "(x,y)" or "x,y".
bool parseCartCoord2DFloat(const char* text, CartCoord2D<float>& result, const char*& rest);
bool parseCartCoord2DInt(const char* text, CartCoord2D<int>& result, const char*& rest);
// Origin ',' extent, each a coordinate.
bool parseCartDomain2DFloat(const char* text, CartDomain2D<float>& result, const char*& rest);
// Elements separated by ',', one trailing ',' allowed.
bool parseSeqOfInt(const char* text, SeqOf<int>& result, const char*& rest);
bool parseSeqOfFloat(const char* text, SeqOf<float>& result, const char*& rest);
bool parseSeqOfTextString(const char* text, SeqOf<TextString>& result, const char*& rest);
bool parseSeqOfCartCoord2DFloat(const char* text, SeqOf<CartCoord2D<float> >& result,
                                const char*& rest);

} // namespace ConfigParsers

#endif
