// The millisecond clock on POSIX: a monotonic clock cut to 32 bits.
#include "platform/ticks.h"

namespace velka {

std::uint32_t MillisecondClock() {
    const auto since_start = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since_start).count());
}

}  // namespace velka
