#include "groupedDigits.h"

std::string groupedDigits(long long number)
{
    // The magnitude as unsigned, so that the most negative number has one.
    unsigned long long magnitude =
        number < 0 ? 0ULL - static_cast<unsigned long long>(number)
                   : static_cast<unsigned long long>(number);
    std::string digits = std::to_string(magnitude);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return number < 0 ? "-" + digits : digits;
}
