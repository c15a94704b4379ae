#include "support/Tick.h"

#include <chrono>

namespace tandrel::support {

std::uint32_t GetTick() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::uint32_t TickDelta(std::uint32_t TickOld, std::uint32_t TickNew) {
    // Unsigned arithmetic is modulo 2^32, which is exactly one wrap-around.
    return TickNew - TickOld;
}

}  // namespace tandrel::support
