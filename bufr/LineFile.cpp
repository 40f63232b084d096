#include "LineFile.h"

#include <cstdlib>
#include <sys/types.h>

LineFile::LineFile(const TextString& path)
    : _file(std::fopen(path.c_str(), "r")), _buffer(nullptr), _capacity(0)
{
}

LineFile::~LineFile()
{
    if (_file)
        std::fclose(_file);
    std::free(_buffer);
}

bool LineFile::readLine(TextString& line, bool keepNewline)
{
    if (!_file)
        return false;
    ssize_t n = getline(&_buffer, &_capacity, _file);
    if (n < 0)
        return false;
    if (n > 0 && _buffer[n - 1] == '\n')
        --n;
    if (n > 0 && _buffer[n - 1] == '\r')
        --n;
    if (keepNewline)
        _buffer[n++] = '\n';
    line = TextString(_buffer, static_cast<int>(n));
    return true;
}
