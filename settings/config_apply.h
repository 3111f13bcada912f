// What the settings dialog shows and what applying it does. The dialog's window
// (config_form.*) only holds the fields; the main window's qmOptionsClick runs
// these around it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/result.h"
#include "settings/pool_settings.h"

namespace velka::settings {

// The fields of the dialog: the port text as typed or chosen (Windows-1251), the
// reception check box and the delivery reports check box.
struct DialogSettings {
    std::string port;
    bool reception = true;
    bool delivery_reports = false;
    bool full_ucs2_segments = false;
    bool operator==(const DialogSettings&) const = default;
};

// What applying switches at once, each given its new state.
struct SwitchSetters {
    std::function<void(bool)> reception;
    std::function<void(bool)> delivery_reports;
    std::function<void(bool)> full_ucs2_segments;
};

// Before each showing: the port in use ("COM" and its number; empty for 0, when
// no port was configured), not the one stored, since a stored port takes effect
// only at the next start; and the flags as they are now.
DialogSettings InitialDialogSettings(std::uint16_t port_in_use, bool reception,
                                     bool delivery_reports, bool full_ucs2_segments);

// Writes "SerialPort" (the text unchanged, empty included), then switches reception
// and writes "PerformMailCheck" as "1" or "0", then the delivery reports and
// "DeliveryReports", then the UCS2 parts and "FullUcs2Parts". Stops at the first
// write that fails, with "Unable to write to <file>" and the reason; a flag whose
// turn did not come keeps its former value. Blocks on the disk.
Status ApplySettings(const std::string& ini_path, const DialogSettings& chosen,
                     const SwitchSetters& set);

// One row of the dialog's list of modems: the port as typed or chosen (Windows-1251)
// and the modem's switches.
struct PoolRow {
    std::string port;
    bool sends = true;
    bool receives = true;
};

// The pool of the dialog's rows, the first row being the first modem, whose port is
// the port field's (0 when that names no port: the field is written as typed, and
// start-up tells what is wrong with it). Refuses, with a sentence for the user
// (Windows-1251) that names the modem by its row: a later row whose port is missing
// or no "COM" and a number from 1 to 65535; later rows while the first modem has no
// port, since none of them starts without it; a port named twice, which start-up
// would pass over.
Result<std::vector<PoolModem>> ChosenPool(const std::vector<PoolRow>& rows);

}  // namespace velka::settings
