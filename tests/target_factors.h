// The targets the tests fit streams to, as factors of their length: none, the common
// speed changes, large ones, and the exact length.
#pragma once

namespace testkit {

constexpr double target_factors[] = {0.0, 0.97, 1.03, 0.8, 1.4, 1.0};

}  // namespace testkit
