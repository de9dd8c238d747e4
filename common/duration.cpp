#include "common/duration.h"

#include <cstdint>

#include "common/text.h"

namespace lenfit {

// Hours and minutes come from the truncated seconds; only the seconds field is rounded,
// by its three-decimal conversion, so 59.9996 shows as 00:00:60.000 and is not carried.
// The tools only pass lengths of zero or more; anything else shows as zero rather than
// reaching an undefined conversion.
std::string format_duration(double seconds) {
    if (!(seconds >= 0.0 && seconds < 1e18)) seconds = 0.0;
    const std::uint64_t whole = static_cast<std::uint64_t>(seconds);
    const std::uint64_t hours = whole / 3600;
    const double past_hours = seconds - static_cast<double>(3600 * hours);
    const std::uint64_t minutes = static_cast<std::uint64_t>(past_hours) / 60;
    const double past_minutes = past_hours - static_cast<double>(60 * minutes);
    return text_printf("%02llu:%02llu:%06.3f", static_cast<unsigned long long>(hours),
                       static_cast<unsigned long long>(minutes), past_minutes);
}

}  // namespace lenfit
