// Virtual modems for the modem and worker tests: a simulator with N modems on
// pseudo-terminals, each listed as a present port COMn in the registry stand-in, so
// that TComPort and the application core open them by number as they would a USB
// modem's port.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka::testing {

class SimModems {
  public:
    // `second_ports`, by modem: which have a second port (SimulatorOptions).
    explicit SimModems(std::size_t count, std::size_t capacity = 20,
                       std::vector<bool> second_ports = {});

    modemsim::Modem& modem(std::size_t position) { return sim_->modem(position - 1); }
    // The port the modem at `position` is listed as: "COM3", and its number; with
    // `port` 1, its second port.
    std::string ComName(std::size_t position, std::size_t port = 0) const {
        return sim_->com_name(position - 1, port);
    }
    std::uint16_t ComNumber(std::size_t position, std::size_t port = 0) const;
    // A control request as velka-modemsim ctl takes it; fails the test if refused.
    std::string Control(const std::string& request);
    // The bytes the client wrote to the modem at `position`, in order.
    std::string Written(std::size_t position);
    std::vector<modemsim::StoredMessage> Store(std::size_t position) {
        return modem(position).Messages();
    }
    // Makes the modem at `position` look like another maker's: its port recorded by
    // an instance of the USB device `device_key` instead of under the virtual
    // modem's own identifiers. Fails the test when the registry refuses.
    void AsAnotherMakers(std::size_t position, const std::string& device_key);
    // What the modems sent to numbers that no modem owns, in order.
    std::vector<modemsim::OutsideMessage> Outside() { return sim_->network().Outside(); }

  private:
    TempDir dir_;
    std::unique_ptr<modemsim::Simulator> sim_;
};

// How many times `needle` occurs in `text`.
std::size_t Count(const std::string& text, const std::string& needle);

// Waits for a state that nothing signals (the simulator's transcript, a modem's
// store), looking every few milliseconds, at most `limit`. True when it came.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace velka::testing
