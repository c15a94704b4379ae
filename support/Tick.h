#pragma once
// The millisecond tick used for time-outs and intervals.

#include <cstdint>

namespace tandrel::support {

/// Milliseconds of a monotonic clock, truncated to 32 bits (wraps after ~49.7 days).
std::uint32_t GetTick();

/// Milliseconds from TickOld to TickNew, correct across one wrap of the 32-bit
/// counter; 0 when both are equal.
std::uint32_t TickDelta(std::uint32_t TickOld, std::uint32_t TickNew);

}  // namespace tandrel::support
