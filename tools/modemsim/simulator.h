// A set of simulated modems on one network, as velka-modemsim serves them, and the
// interpreter of its control requests. Each modem's device path is
// <directory>/modem<n>, its second port's (where it has one) <directory>/modem<n>.2;
// after a replug, <directory>/modem<n>-<k> and <directory>/modem<n>-<k>.2.
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
    // By modem, in the order of `numbers`; a modem past the end of either list
    // starts with no faults and with the serials derived from its number. The
    // faults' confirm_delay is the network's time for a send: real ones take 1-10 s.
    std::vector<Faults> faults{};
    std::vector<Serials> serials{};  // an empty field is derived from the number
    // By modem: true gives it a second port, registered as its second interface
    // (instances <prefix>-<n>&MI_00 and &MI_01, as the device manager names the
    // interfaces of one USB device) with a COM name of its own.
    std::vector<bool> second_ports{};
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
    // "COM3" of the modem at `i` (of its second port with `port` 1); empty when the
    // simulator registers nothing.
    std::string com_name(std::size_t i, std::size_t port = 0) const;
    Network& network() { return network_; }

    // Runs one control request (words separated by blanks, see Help()) and gives
    // its answer; a refused request's answer starts with "error: ". Thread-safe.
    std::string Control(const std::string& request);
    static std::string Help();

  private:
    Simulator() = default;
    Result<std::size_t> Find(const std::string& which);
    std::string SetFault(Modem& modem, const std::vector<std::string>& words);
    std::string Identity(Modem& modem, const std::vector<std::string>& words);
    std::string Sends(Modem& modem, const std::vector<std::string>& words);
    // Unplugs the modem at `i` and plugs it back in under new device paths and
    // new COM names, its old registry entries gone. REQUIRES: mutex_ held.
    std::string Replug(std::size_t i);
    // Where the modem at `i` is plugged after `replug` replugs, by port.
    std::vector<std::string> PathsOf(std::size_t i, std::size_t ports, unsigned replug) const;
    // Registers every port of the modem at `i`, all or none.
    Result<std::vector<std::unique_ptr<PortRegistration>>> RegisterPorts(std::size_t i,
                                                                         unsigned replug);

    Network network_;
    std::vector<std::unique_ptr<Modem>> modems_;  // set once by Start
    // By modem, by port. Set once by Start after every modem runs; a modem's line
    // changes reach its entries. Replaced, under mutex_, by a replug: empty while
    // they are swapped.
    std::vector<std::vector<std::unique_ptr<PortRegistration>>> registrations_;
    Registry* registry_ = nullptr;     // where registrations_ are; set once by Start
    std::string instance_prefix_;      // set once by Start
    std::string directory_;            // of the device links; set once by Start
    std::uint8_t next_reference_ = 0;  // of injected long texts; guarded by mutex_
    std::vector<unsigned> replugs_;  // by modem, for the next path and instance; guarded by mutex_
    std::mutex mutex_;               // serialises control requests
};

}  // namespace velka::modemsim
