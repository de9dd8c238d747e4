// The whole run of one tool, from its command line to its exit status.
#pragma once

#include "common/format.h"

namespace lenfit {

int run_lenfit(int argc, const char* const* argv, const FormatTool& tool);

}  // namespace lenfit
