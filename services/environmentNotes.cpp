#include "environmentNotes.h"

#include <cstdlib>

std::string unsetNote(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value ? std::string() : std::string(" (") + variable + " is not set)";
}
