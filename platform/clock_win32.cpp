// The millisecond clock on Windows: the multimedia timer, which wraps after 49.7 days.
#include <windows.h>
// (after windows.h, which it needs)
#include <mmsystem.h>

#include "platform/ticks.h"

namespace velka {

std::uint32_t MillisecondClock() {
    return timeGetTime();
}

}  // namespace velka
