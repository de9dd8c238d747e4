#include "common/text.h"

#include <cstdarg>
#include <cstdio>

namespace lenfit {

std::string text_printf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, copy);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(copy);
    return text;
}

}  // namespace lenfit
