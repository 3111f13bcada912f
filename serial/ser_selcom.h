// Port availability and the logic of the port selection list (the window itself
// belongs to the front end). Any thread; IsPortAvailable opens the device briefly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velka {

// The highest port number the selection list offers.
inline constexpr std::uint16_t kHighestListedPort = 50;

// True when port n exists: it opens (and is closed again at once), or it is held
// by another program (access denied). Port 0 never is.
bool IsPortAvailable(std::uint16_t n);

// "COM%d" for every available port from 1 to 50, in ascending order.
std::vector<std::string> AvailablePortList(
    const std::function<bool(std::uint16_t)>& available = IsPortAvailable);

// The number in a list entry, read from its fourth character on ("COM12" gives
// 12); 0 for an entry without one (an empty list has no selection).
std::uint16_t SelectedComNum(const std::string& entry);

}  // namespace velka
