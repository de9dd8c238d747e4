// The whole run of one tool, from its command line to its exit status.
#pragma once

#include <string>
#include <vector>

#include "common/format.h"

namespace lenfit {

// Runs the tool on its arguments, the program name first; returns the exit status.
int run_lenfit(const std::vector<std::string>& arguments, const FormatTool& tool);

}  // namespace lenfit
