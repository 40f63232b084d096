// Splits a text into tokens at delimiter characters, consuming the text as
// tokens are taken.  Runs of delimiters separate tokens; with returnTokens
// set each run of delimiters is itself returned as a token.
#ifndef STRINGTOKENIZER_H
#define STRINGTOKENIZER_H

#include <iosfwd>

#include "TextString.h"

class StringTokenizer {
public:
    // Delimiters blank, tab, newline and carriage return; runs not returned.
    explicit StringTokenizer(const TextString& text);
    StringTokenizer(const TextString& text, const TextString& delimiters, bool returnDelimiters);

    // c occurs among the delimiters (the NUL character always does).
    bool isDelimiter(char c) const;
    // The position just past the run (of delimiters or of non-delimiters)
    // that starts at from; -1 when from lies outside the text.
    int runEnd(int from) const;
    // The next token at or after from, with inclusive bounds; false when
    // there is none (or from lies outside the text).
    bool tokenBounds(int from, int& start, int& end) const;
    // Tokens in the remaining text, which is left unchanged.
    int countTokens() const;
    // The next token, removed with everything before it; the empty text when
    // no token is left (the remaining text then stays as it is).
    TextString nextToken();

    // The text still to be tokenised.
    const TextString& remainingText() const { return str; }

    friend std::ostream& operator<<(std::ostream& out, const StringTokenizer& tokenizer);

private:
    TextString str;
    TextString _delim;
    bool returnTokens;
};

#endif
