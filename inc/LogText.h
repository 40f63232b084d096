// LogText: a text from outside the process (a file name, a peer's name, a
// pattern, a value a bulletin gives) streamed into a log message with its
// control characters escaped: "\n", "\r", "\t" and "\xHH" for the others
// (and for DEL), so that no such text can end the line it stands in and
// start another that looks like one of the log's own.
//
//     QEV_LOG(LogStream::PROBLEM, "X") << "File " << LogText(path) << " ..." << std::endl;
//
// The object only points at the text: it is made and streamed in one
// expression.
#ifndef LOGTEXT_H
#define LOGTEXT_H

#include <cstddef>
#include <cstring>
#include <ostream>
#include <string>

class TextString;

class LogText {
public:
    explicit LogText(const char* text) : _text(text ? text : ""), _length(std::strlen(_text)) {}
    LogText(const char* text, size_t length) : _text(text ? text : ""), _length(text ? length : 0) {}
    explicit LogText(const std::string& text) : _text(text.data()), _length(text.size()) {}
    explicit LogText(const TextString& text);

    // The text as it is logged.
    std::string escaped() const;

    friend std::ostream& operator<<(std::ostream& out, const LogText& text);

private:
    const char* _text;
    size_t _length;
};

#endif
