// The local time on Windows, as the system clock and its time zone give it.
#include <windows.h>

#include "platform/datetime.h"

namespace velka {

DateTime NowLocal() {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return DateTime{local.wYear, local.wMonth,  local.wDay,
                    local.wHour, local.wMinute, local.wSecond};
}

}  // namespace velka
