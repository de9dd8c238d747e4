// The probe of the input: its first bytes, past a tag the format skips, read and handed
// to the format's probe.
#pragma once

#include "common/file_io.h"
#include "common/format.h"

namespace lenfit {

ProbeResult probe_input(const InputFile& input, const FormatTool& tool);

}  // namespace lenfit
