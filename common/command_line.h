// The command line shared by the tools, one table of options:
// [-t targetsec | -r from:to] [-d delayms] [-k] [-e editlist] [-o outfile] infile.
#pragma once

#include <optional>
#include <string>

#include "common/edit_list.h"

namespace lenfit {

// -r: the video's frame rate before and after, in frames per second.
struct RateChange {
    double from = 0.0;
    double to = 0.0;
};

struct RunOptions {
    std::optional<double> target_seconds;  // -t; a target of 0 asks for none
    std::optional<RateChange> rate;        // -r: the target is the stream's length x from / to
    std::optional<double> delay_ms;        // -d: > 0 silence in front, < 0 units left out at the start
    bool keep_timeline = false;            // -k: silent units in the place of damage
    std::optional<EditList> edits;         // -e: cuts and silences
    std::string output_path;               // empty: estimate only
    std::string input_path;
};

// Fills options from the arguments after the program name; false for a command line
// that must be answered with the usage text.
bool parse_arguments(int argc, const char* const* argv, RunOptions& options);
// Writes the usage text, with the program name built from the format's tag.
void print_usage(const char* format_tag);

}  // namespace lenfit
