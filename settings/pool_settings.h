// The modems of a pool, in Config.ini. The first is the one of "[DEVICEMAP]"
// "SerialPort", so that files written before pools work unchanged; each other one
// has a section "[Modem N]" (N from 2 to kMostModems) with its "SerialPort"
// ("COM" and the number, as in "[DEVICEMAP]"). Every modem's section, "[Modem 1]"
// for the first, may hold "Send" and "Receive" ("1" or "0"; missing means "1"):
// whether records go out through it, and whether what arrives on it is fetched
// (while "PerformMailCheck" lets reception run at all). Blocks on the disk; any
// thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"

namespace velka::settings {

inline constexpr int kMostModems = 32;

struct PoolModem {
    std::int32_t port = 0;  // COM<port>
    bool sends = true;
    bool receives = true;
    bool operator==(const PoolModem&) const = default;
};

// "Modem 2".
std::string ModemSection(int number);

// The modems in the order of their numbers, the first being `first_port` (from
// "[DEVICEMAP]"; 0: none, and then none of the others either, as a pool without
// its first modem is a file the user has not finished). A section whose port is
// missing or 0 is passed over, and so is a port named twice (one port, one
// modem). A "SerialPort" that does not convert fails with the conversion message
// and the section's name, rather than leaving out a modem the user meant.
Result<std::vector<PoolModem>> ReadPoolModems(const std::string& ini_path, std::int32_t first_port);

// Writes the pool so that ReadPoolModems gives it back: the modems after the first
// into "[Modem 2]" onwards in their order, each "SerialPort" as "COM" and the
// number; the sections of the numbers past the last modem removed, so that a modem
// taken out of the middle moves the later ones up; "Send" and "Receive" of every
// modem, in "[Modem 1]" for the first. The first modem's port is "[DEVICEMAP]"'s,
// which the port field of the settings dialog writes (ApplySettings), so it is not
// written here. A key is written only where its text changes, and a switch that is
// missing stays missing while it is on, so that the file of a user of one modem
// gains no section nobody set. At most kMostModems modems are written. Stops at the
// first write that fails ("Unable to write to <file>" and the reason), keeping what
// was written before it. One writer of Config.ini at a time.
Status WritePoolModems(const std::string& ini_path, const std::vector<PoolModem>& modems);

}  // namespace velka::settings
