#include "LogPrefParser.h"

// The preference language is not read yet: every process runs on the
// defaults of the log stream.
bool LogPrefParser::parse()
{
    return true;
}
