#include "serial/ser_selcom.h"

#include <charconv>

#include "platform/com_name.h"
#include "serial/ser_dispatch.h"
#include "serial/ser_except.h"
#include "serial/ser_port.h"

namespace velka {

bool IsPortAvailable(std::uint16_t n) {
    if (n == 0) return false;
    const auto probe = NewPlatformDispatcher();
    const int result = probe->ProbeDevice(TCustomComPort::DeviceName(n));
    return result == ecOK || result == ecAccessDenied;
}

std::vector<std::string> AvailablePortList(const std::function<bool(std::uint16_t)>& available) {
    std::vector<std::string> list;
    for (std::uint16_t n = 1; n <= kHighestListedPort; ++n) {
        if (available(n)) list.push_back(ComName(n));
    }
    return list;
}

std::uint16_t SelectedComNum(const std::string& entry) {
    if (entry.size() <= 3) return 0;
    std::uint16_t n = 0;
    const auto [end, error] = std::from_chars(entry.data() + 3, entry.data() + entry.size(), n);
    return error == std::errc() && end == entry.data() + entry.size() ? n : 0;
}

}  // namespace velka
