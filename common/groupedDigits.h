// Numbers written for people: the digits grouped by thousands with commas
// (2410 -> "2,410", -1234567 -> "-1,234,567").
#ifndef GROUPEDDIGITS_H
#define GROUPEDDIGITS_H

#include <string>

std::string groupedDigits(long long number);

#endif
