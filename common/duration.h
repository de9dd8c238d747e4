// Lengths shown as hours:minutes:seconds.milliseconds inside a report line.
#pragma once

#include <string>

namespace lenfit {

std::string format_duration(double seconds);

}  // namespace lenfit
