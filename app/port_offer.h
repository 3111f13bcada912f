// The ports the settings dialog offers besides the modem's own: every other USB
// serial port on which a modem answers "AT", labelled with what the modem says it
// is, so that a user with a modem of any maker can pick it from the list.
//
// A probe opens each port for a moment, so it never touches the port the worker
// holds: that one is in use, and a second opening would take it from the worker or
// fail. Probing runs on threads of its own, so the dialog opens at once and fills
// in as modems answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "modem/session.h"
#include "platform/registry.h"
#include "platform/stop_signal.h"

namespace velka::app {

// A port the settings dialog offers: one on which a modem answered, or one the
// user may not open (which no probe can reach). Windows-1251.
struct AnsweringPort {
    std::string port;          // "COM9", what Config.ini keeps
    std::string name;          // "Huawei E173", as ModemName gives it
    std::string denied_group;  // the group whose members alone may open it; empty: open
    bool operator==(const AnsweringPort&) const = default;
};

// "manufacturer model" as the modem gives them, either left out when it refused it;
// empty when it gave neither.
std::string ModemName(const modem::ModemInfo& info);

// What the settings dialog's list shows for the port: "COM9 (Huawei E173)", or
// "COM9 (нет доступа: группа dialout)" for one the user may not open.
std::string PortLabel(const AnsweringPort& answering);

// One of the modem's own ports (settings::DiscoverModemPorts) as the list shows it:
// its name alone, or marked as PortLabel marks a port the user may not open.
// Blocks on the registry and a stat of the device.
std::string ModemPortLabel(Registry& registry, const std::string& port);

// The other USB serial ports present now, less the one numbered `held` (the
// worker's; 0 holds none).
std::vector<std::string> PortsToProbe(Registry& registry, std::uint16_t held);

// Whether the port named `a` ("COM2") comes before `b` ("COM10") in a list of ports:
// by number, as the settings dialog lists them.
bool PortBefore(const std::string& a, const std::string& b);

// How long a port may take to answer "AT": a modem answers at once, and the user
// is waiting for the list.
inline constexpr std::chrono::milliseconds kProbeBound{1100};

class PortProbe {
  public:
    using Found = std::function<void(const AnsweringPort&)>;

    // Probes every port at once, each on a thread of its own, and calls `found` on
    // that thread for each one that answers, and for each one whose device the user
    // may not open (with its group); ports that stay silent, cannot be opened for
    // another reason or are no modem are passed over without a word.
    PortProbe(const std::vector<std::string>& ports, Found found);
    // Waits until every port has answered or let its bound pass: for a caller
    // that wants the whole list at once.
    void Finish();
    // Stops the probes still waiting (at once) and joins their threads; `found` is
    // not called after it returns.
    ~PortProbe();
    PortProbe(const PortProbe&) = delete;
    PortProbe& operator=(const PortProbe&) = delete;

  private:
    StopSignal stop_;
    const Found found_;
    std::vector<std::thread> threads_;
};

}  // namespace velka::app
