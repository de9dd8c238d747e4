// Formatted text into a std::string, for the pieces that make text but do not print it.
#pragma once

#include <string>

namespace lenfit {

std::string text_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lenfit
