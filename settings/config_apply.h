// What the settings dialog shows and what applying it does. The dialog's window
// (config_form.*) only holds the fields; the main window's qmOptionsClick runs
// these around it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/result.h"

namespace velka::settings {

// The two fields of the dialog: the port text as typed or chosen (Windows-1251)
// and the reception check box.
struct DialogSettings {
    std::string port;
    bool reception = true;
    bool operator==(const DialogSettings&) const = default;
};

// Before each showing: the port in use ("COM" and its number; empty for 0, when
// no port was configured), not the one stored, since a stored port takes effect
// only at the next start; and the reception flag as it is now.
DialogSettings InitialDialogSettings(std::uint16_t port_in_use, bool reception);

// Writes "SerialPort" (the text unchanged, empty included), then switches reception
// through `set_reception` and writes "PerformMailCheck" as "1" or "0". Stops at the
// first write that fails, with "Unable to write to <file>" and the reason; when the
// port could not be written, reception keeps its former value. Blocks on the disk.
Status ApplySettings(const std::string& ini_path, const DialogSettings& chosen,
                     const std::function<void(bool)>& set_reception);

}  // namespace velka::settings
