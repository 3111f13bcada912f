// A set of simulated modems on one network, as velka-modemsim serves them, and the
// interpreter of its control requests. Each modem's device path is
// <directory>/modem<n>.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/result.h"
#include "tools/modemsim/modem.h"
#include "tools/modemsim/network.h"
#include "tools/modemsim/registration.h"

namespace velka::modemsim {

struct SimulatorOptions {
    std::vector<std::string> numbers;  // one modem each
    std::string directory;             // for the device links; must exist
    std::size_t capacity = 20;         // SIM slots per modem
    // Where to register the modems as present USB modem ports; none when null.
    Registry* registry = nullptr;
    std::string instance_prefix = "modemsim";  // instance keys are <prefix>-<n>
};

// +79990000001, +79990000002, ...
std::vector<std::string> DefaultNumbers(std::size_t count);

class Simulator {
  public:
    // Starts every modem, then registers each; on failure none is left running or
    // registered.
    static Result<std::unique_ptr<Simulator>> Start(const SimulatorOptions& options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    std::size_t size() const { return modems_.size(); }
    Modem& modem(std::size_t i) { return *modems_.at(i); }
    // "COM3"; empty when the simulator registers nothing.
    std::string com_name(std::size_t i) const;
    Network& network() { return network_; }

    // Runs one control request (words separated by blanks, see Help()) and gives
    // its answer; a refused request's answer starts with "error: ". Thread-safe.
    std::string Control(const std::string& request);
    static std::string Help();

  private:
    Simulator() = default;
    Result<Modem*> Find(const std::string& which);
    std::string SetFault(Modem& modem, const std::vector<std::string>& words);

    Network network_;
    std::vector<std::unique_ptr<Modem>> modems_;  // set once by Start
    // Set once by Start after every modem runs; a modem's line changes reach its entry.
    std::vector<std::unique_ptr<PortRegistration>> registrations_;
    std::uint8_t next_reference_ = 0;  // of injected long texts; guarded by mutex_
    std::mutex mutex_;                 // serialises control requests
};

}  // namespace velka::modemsim
