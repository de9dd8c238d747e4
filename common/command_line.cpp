#include "common/command_line.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lenfit {

namespace {

constexpr int max_arguments = 5;
// A target this far away is a typing error, and beyond it frame counts lose precision.
constexpr double max_target_magnitude = 1e15;

// "-x..." is always an option (only its second character counts, so "-output" is
// "-o"); "/x" is one only when it is that short, so that absolute paths stay paths.
bool is_option(const char* argument) {
    if (argument[0] == '-') return true;
    return argument[0] == '/' && std::strlen(argument) <= 2;
}

std::size_t count_digits(const char* text) {
    std::size_t n = 0;
    while (text[n] >= '0' && text[n] <= '9') ++n;
    return n;
}

// Length of a decimal number at text: [+-]?(digits[.digits?]|.digits)([eE][+-]?digits)?;
// 0 when there is none.
std::size_t decimal_length(const char* text) {
    std::size_t at = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    const std::size_t whole = count_digits(text + at);
    at += whole;
    std::size_t fraction = 0;
    if (text[at] == '.') {
        fraction = count_digits(text + at + 1);
        if (whole == 0 && fraction == 0) return 0;
        at += 1 + fraction;
    } else if (whole == 0) {
        return 0;
    }
    if (text[at] == 'e' || text[at] == 'E') {
        std::size_t exponent = at + 1;
        if (text[exponent] == '+' || text[exponent] == '-') ++exponent;
        const std::size_t digits = count_digits(text + exponent);
        if (digits == 0) return 0;
        at = exponent + digits;
    }
    return at;
}

// A clock time as the tools print lengths: M:S or H:M:S, H and M digits, S digits with
// an optional fraction; the value is 3600 H + 60 M + S.
bool read_clock_time(const char* text, double& seconds) {
    double minutes = 0.0;  // the fields before the seconds, in minutes
    int fields = 0;
    for (const char* at = text;;) {
        const char* field = at;
        std::size_t length = count_digits(at);
        if (length == 0) return false;
        at += length;
        ++fields;
        if (*at == ':') {
            if (fields == 3) return false;
            minutes = minutes * 60.0 + std::strtod(std::string(field, length).c_str(), nullptr);
            ++at;
            continue;
        }
        if (fields < 2) return false;
        if (*at == '.') {
            const std::size_t fraction = count_digits(at + 1);
            if (fraction == 0) return false;
            length += 1 + fraction;
            at += 1 + fraction;
        }
        if (*at != '\0') return false;
        seconds = minutes * 60.0 + std::strtod(std::string(field, length).c_str(), nullptr);
        return true;
    }
}

bool read_target(const char* text, double& target) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    const std::size_t decimal = decimal_length(text);
    if (decimal > 0 && text[decimal] == '\0') {
        target = std::strtod(text, nullptr);
    } else if (!read_clock_time(text, target)) {
        return false;
    }
    return std::isfinite(target) && std::fabs(target) < max_target_magnitude;
}

}  // namespace

bool parse_arguments(int argc, const char* const* argv, RunOptions& options) {
    if (argc < 2 || argc - 1 > max_arguments) return false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!is_option(argument)) {
            options.input_path = argument;
            continue;
        }
        const char letter = argument[1];
        if (letter != 'o' && letter != 't') return false;
        if (i + 1 >= argc) return false;  // the option's value is missing
        const char* value = argv[++i];
        if (letter == 'o') {
            options.output_path = value;
        } else if (!read_target(value, options.target_seconds)) {
            return false;
        }
    }
    return true;
}

void print_usage(const char* format_tag) {
    std::printf("Usage: %slenfit [-t targetsec] [-o outfile] infile\n", format_tag);
    std::printf("%slenfit: Scale %s audio to given number of seconds with duplicated or "
                "dropped frames.\n",
                format_tag, format_tag);
    std::puts("          Outputs estimates for infile if -o option is not given");
    std::puts("          -t targetsec\tScale audio to targetsec number of seconds.");
    std::puts("          -o outfile\tOutputs complete frames from infile to outfile scaled "
              "to targetsec if specified.");
}

}  // namespace lenfit
