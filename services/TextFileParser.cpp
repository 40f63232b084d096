#include "TextFileParser.h"

#include "InfoFileServer.h"
#include "LogStream.h"
#include "LogText.h"

#include <cstring>
#include <string>

TextFileParser::TextFileParser() : current(nullptr), currentLine(0) {}

TextFileParser::~TextFileParser()
{
    while (current)
        popFile();
}

bool TextFileParser::pushFile(const TextString& name)
{
    TextString path;
    FILE* file = InfoFileServer::openIncluded(name, files, "TextFileParser", path);
    if (!file)
        return false;
    if (current)
        lines[lines.length() - 1] = static_cast<unsigned long>(currentLine);
    current = file;
    currentName = path;
    currentLine = 0;
    files.append(file);
    names.append(path);
    lines.append(0);
    return true;
}

void TextFileParser::popFile()
{
    if (!current)
        return;
    if (fclose(current) != 0)
        QEV_LOG(LogStream::PROBLEM, "TextFileParser")
            << "Error closing file " << LogText(currentName) << std::endl;
    int top = files.length() - 1;
    files.remove(top, top);
    names.remove(top, top);
    lines.remove(top, top);
    if (top == 0) {
        current = nullptr;
        return;
    }
    const SeqOf<TextString>& constNames = names;
    const SeqOf<unsigned long>& constLines = lines;
    current = files[top - 1];
    currentName = constNames[top - 1];
    currentLine = static_cast<long>(constLines[top - 1]);
}

bool TextFileParser::nextLine(TextString& line)
{
    std::string text;
    char piece[100];
    while (current) {
        if (!fgets(piece, sizeof piece, current)) {
            if (text.empty()) {
                // End of this file: the including one goes on.
                popFile();
                continue;
            }
            // A last line without a newline: it belongs to this file, which
            // is closed at the next read.
        } else {
            text += piece;
            if (text.empty() || text.back() != '\n')
                continue;
            text.pop_back();
        }
        ++currentLine;

        TextString candidate(text.c_str());
        TextString name;
        bool hasName = false;
        if (InfoFileServer::isIncludeLine(candidate, name, hasName)) {
            if (!hasName)
                QEV_LOG(LogStream::PROBLEM, "TextFileParser")
                    << "#include without a quoted file name at " << LogText(location())
                    << std::endl;
            else
                pushFile(name);
            text.clear();
            continue;
        }
        size_t hash = text.find('#');
        if (hash != std::string::npos)
            text.erase(hash);
        if (text.compare(0, 2, "//") == 0)
            text.clear();
        if (!text.empty()) {
            line = TextString(text.c_str());
            return true;
        }
    }
    line = TextString();
    return false;
}

TextString TextFileParser::location() const
{
    int size = snprintf(nullptr, 0, "line %ld in file %s", currentLine, currentName.c_str());
    std::string out(static_cast<size_t>(size) + 1, '\0');
    snprintf(&out[0], out.size(), "line %ld in file %s", currentLine, currentName.c_str());
    return TextString(out.c_str());
}
