// settings/: Config.ini beside the program and what the program reads from it at
// start-up. Uses platform/ only.
//
// The file has one section, "DEVICEMAP", with "SerialPort" (the text "COM" and the
// port number, as the settings dialog writes it), "PerformMailCheck" ("1" or "0")
// "DeliveryReports" ("1" or "0"; missing means "0": the messages ask for no
// status report) and "FullUcs2Parts" ("1" or "0"; missing means "0": a long UCS2
// text goes in the designed parts of 63 characters, "1" in parts of 67).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka::settings {

inline constexpr std::string_view kSection = "DEVICEMAP";
inline constexpr std::string_view kSerialPortKey = "SerialPort";
inline constexpr std::string_view kMailCheckKey = "PerformMailCheck";
inline constexpr std::string_view kDeliveryReportsKey = "DeliveryReports";
inline constexpr std::string_view kFullUcs2PartsKey = "FullUcs2Parts";

// What start-up takes from Config.ini.
struct StartupSettings {
    bool reception = true;            // PerformMailCheck
    bool delivery_reports = false;    // DeliveryReports
    bool full_ucs2_segments = false;  // FullUcs2Parts
    std::int32_t port = 0;            // the port to start the worker on; 0: start none
};

// A strict conversion of the whole text to a 32-bit integer: blanks around it, an
// optional sign, then decimal digits, or "$", "0x" or "0X" and hexadecimal digits.
// Anything else fails with "'<text>' is not a valid integer value".
Result<std::int32_t> StrToInt(std::string_view text);

// A profile value read as an integer: decimal, or hexadecimal after "0x"/"0X"; a
// missing key or a text that does not convert gives `default_value`.
std::int32_t ReadInteger(const std::string& ini_path, std::string_view section,
                         std::string_view key, std::int32_t default_value);

// Reads both settings. A missing file gives the defaults (reception on, no port).
// A "SerialPort" text of more than 3 characters loses its first 3, whatever they
// are, and the rest must convert strictly; when it does not, the error carries the
// conversion message and `settings` still holds the reception flag that was read.
// Blocks on the disk; any thread.
Status ReadStartupSettings(const std::string& ini_path, StartupSettings& settings);

// The "SerialPort" of `section` by the rule above: 0 when missing or of 3 characters
// or fewer, the conversion message when the rest does not convert.
Result<std::int32_t> ReadSerialPort(const std::string& ini_path, std::string_view section);

// A port text ("COM5") by the same rule, as the file or the settings dialog gives it.
Result<std::int32_t> PortOfText(std::string_view port_text);

}  // namespace velka::settings
