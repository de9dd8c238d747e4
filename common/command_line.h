// The command line shared by both tools: [-t targetsec] [-o outfile] infile.
#pragma once

#include <string>

namespace lenfit {

struct RunOptions {
    double target_seconds = 0.0;  // 0.0: no target
    std::string output_path;      // empty: estimate only
    std::string input_path;
};

// Fills options from the arguments after the program name; false for a command line
// that must be answered with the usage text.
bool parse_arguments(int argc, const char* const* argv, RunOptions& options);
// Writes the usage text, with the program name built from the format's tag.
void print_usage(const char* format_tag);

}  // namespace lenfit
