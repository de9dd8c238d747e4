// The command line shared by both tools: [-t targetsec] [-o outfile] infile.
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "lenfit.h"

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

bool read_target(const char* text, double& target) {
    target = std::atof(text);
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

void parse_command_line(const char* format_tag, int argc, const char* const* argv,
                        RunOptions& options) {
    if (!parse_arguments(argc, argv, options)) print_usage(format_tag);
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
    std::exit(1);
}

void fail_with_path(const char* message, const std::string& path) {
    std::printf(message, path.c_str());
    std::exit(1);
}

std::string text_printf(const char* format, ...) {
    char small[256];
    std::va_list args;
    va_start(args, format);
    std::va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(copy);
        return std::string();
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(copy);
        return std::string(small, static_cast<std::size_t>(length));
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, copy);
    va_end(copy);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace lenfit
