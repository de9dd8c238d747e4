// The command line shared by both tools:
// [-t targetsec | -r from:to] [-d delayms] [-o outfile] infile.
#pragma once

#include <string>

namespace lenfit {

struct RunOptions {
    double target_seconds = 0.0;  // 0.0: no target
    // -r: the target is the stream's length x rate_from / rate_to; 0.0: not given.
    double rate_from = 0.0;
    double rate_to = 0.0;
    double delay_ms = 0.0;  // -d: > 0 silence in front, < 0 units left out at the start
    std::string output_path;      // empty: estimate only
    std::string input_path;
};

// Fills options from the arguments after the program name; false for a command line
// that must be answered with the usage text.
bool parse_arguments(int argc, const char* const* argv, RunOptions& options);
// Writes the usage text, with the program name built from the format's tag.
void print_usage(const char* format_tag);

}  // namespace lenfit
