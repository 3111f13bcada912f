// The registry entries that make a simulated modem look like a plugged-in USB modem
// to port discovery: an instance of the modem device Vid_ffff&Pid_1305 whose
// "PortName" is the modem's COM name, and, while its line is up, the port in the
// serial device map (value name: the device path, data: the COM name).
#pragma once

#include <memory>
#include <string>

#include "platform/registry.h"
#include "platform/result.h"

namespace velka::modemsim {

// Instance keys of the form "<prefix><pid>-<n>" belong to the simulator process
// pid. Removes those of processes that no longer run (a simulator that was killed
// could not clean up), with their ports in the serial device map, so that their
// COM names come free again. Failures are ignored: this only tidies.
void RemoveDeadInstances(Registry& registry, const std::string& prefix);

class PortRegistration {
  public:
    // Takes the lowest COM number that no "PortName" of any USB device instance
    // records, records the instance under `instance` and lists the port as present.
    // Two simulators registering at the same moment may pick the same number.
    static Result<std::unique_ptr<PortRegistration>> Register(Registry& registry,
                                                              const std::string& device_path,
                                                              const std::string& instance);
    // Removes the instance and the port; failures are ignored, there is no one to tell.
    ~PortRegistration();
    PortRegistration(const PortRegistration&) = delete;
    PortRegistration& operator=(const PortRegistration&) = delete;

    const std::string& com_name() const { return com_name_; }
    // An unplugged modem leaves the serial device map and comes back to it; its
    // instance and COM name stay, as the system keeps them for a known device.
    Status SetPresent(bool present);

  private:
    PortRegistration(Registry& registry, std::string device_path, std::string instance_key,
                     std::string com_name)
        : registry_(registry),
          device_path_(std::move(device_path)),
          instance_key_(std::move(instance_key)),
          com_name_(std::move(com_name)) {}

    Registry& registry_;
    const std::string device_path_;
    const std::string instance_key_;
    const std::string com_name_;
};

}  // namespace velka::modemsim
