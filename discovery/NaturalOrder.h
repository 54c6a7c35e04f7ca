#pragma once

#include <string>

// ttyS2 before ttyS10, so that "first" means the same thing on every machine.
bool NaturalLess(const std::string& a, const std::string& b);
