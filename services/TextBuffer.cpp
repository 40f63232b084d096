#include "TextBuffer.h"

#include <cstring>
#include <string>

namespace {

// fgets piece size: at most 198 characters at a time.
const int pieceSize = 199;

// One physical line without its newline; false at the end of the file.  A
// last line without a newline still counts as a line.
bool readPhysicalLine(FILE* file, std::string& line)
{
    line.clear();
    char piece[pieceSize];
    bool any = false;
    while (fgets(piece, sizeof piece, file)) {
        any = true;
        size_t n = strlen(piece);
        if (n > 0 && piece[n - 1] == '\n') {
            line.append(piece, n - 1);
            return true;
        }
        line.append(piece, n);
    }
    return any;
}

}  // namespace

TextBuffer::TextBuffer(const TextString& fileName)
{
    FILE* file = openFile(fileName);
    if (!file)
        return;
    SeqOfPtr<FILE*> open;
    read(file, open);
    fclose(file);
}

void TextBuffer::read(FILE* file, SeqOfPtr<FILE*>& open)
{
    open.append(file);
    std::string logical;
    std::string physical;
    for (;;) {
        if (!readPhysicalLine(file, physical)) {
            // A continuation still open at the end: the end of the file
            // closes it like an empty line.
            if (logical.empty())
                break;
            physical.clear();
        }
        // The comment is looked for in the whole physical line, so a "//"
        // that straddles two read pieces is still one.
        size_t comment = physical.find("//");
        bool hadComment = comment != std::string::npos;
        if (hadComment)
            physical.erase(comment);
        logical += physical;

        if (logical.empty() && hadComment)
            continue;
        if (!logical.empty() && logical.back() == '\\') {
            logical.pop_back();
            continue;
        }
        TextString line(logical.c_str());
        TextString name;
        bool hasName = false;
        if (isIncludeLine(line, name, hasName) && hasName)
            include(name, open);
        else
            lines.append(line);
        logical.clear();
    }
    open.remove(open.length() - 1, open.length() - 1);
}

void TextBuffer::include(const TextString& name, SeqOfPtr<FILE*>& open)
{
    TextString path;
    FILE* file = openIncluded(name, open, "TextBuffer", path);
    if (!file)
        return;
    read(file, open);
    fclose(file);
}

bool TextBuffer::write(const TextString& fileName) const
{
    TextString path = fileName;
    expandEnvVars(path);
    FILE* file = fopen(path.c_str(), "w");
    if (!file)
        return false;
    for (int i = 0; i < lines.length(); ++i)
        fprintf(file, "%s\n", lines[i].c_str());
    fclose(file);
    return true;
}
