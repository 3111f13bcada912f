#include "tools/modemsim/registration.h"

#include <signal.h>

#include <cerrno>
#include <charconv>
#include <set>

#include "platform/codepage.h"

namespace velka::modemsim {
namespace {

constexpr const char* kUsbDevices = "SYSTEM\\CurrentControlSet\\Enum\\USB";
constexpr const char* kModemDevice = "Vid_ffff&Pid_1305";
constexpr const char* kSerialMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr const char* kPortName = "PortName";

Error Failed(const std::string& what, const RegistryError& error) {
    return Error{what + ": " + error.message, error.system_code};
}

// Every COM name that an instance of any USB device records, upper-cased.
Result<std::set<std::string>> RecordedPortNames(Registry& registry) {
    std::set<std::string> names;
    if (!registry.KeyExists(kUsbDevices)) return names;
    const auto devices = registry.SubKeys(kUsbDevices);
    if (!devices) return Failed("cannot list the USB devices", devices.error());
    for (const std::string& device : *devices) {
        const std::string device_key = std::string(kUsbDevices) + "\\" + device;
        const auto instances = registry.SubKeys(device_key);
        if (!instances) continue;  // gone in the meantime
        for (const std::string& instance : *instances) {
            const auto name = registry.ReadString(
                device_key + "\\" + instance + "\\Device Parameters", kPortName);
            if (name) names.insert(codepage::Upper(*name));
        }
    }
    return names;
}

// The process id in "<prefix><pid>-<n>", or 0 when the name is not of that form.
pid_t OwnerOf(const std::string& instance, const std::string& prefix) {
    if (!codepage::Upper(instance).starts_with(codepage::Upper(prefix))) return 0;
    const char* first = instance.data() + prefix.size();
    const char* last = instance.data() + instance.size();
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(first, last, pid);
    return error == std::errc() && end != last && *end == '-' ? pid : 0;
}

bool Running(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

// Failures are ignored, as in RemoveDeadInstances: this only tidies.
void Unlist(Registry& registry, const std::string& com_name) {
    const auto ports = registry.Values(kSerialMap);
    if (!ports) return;
    for (const RegistryValueInfo& port : *ports) {
        const auto data = registry.ReadString(kSerialMap, port.name);
        if (data && *data == com_name) IgnoreFailure(registry.DeleteValue(kSerialMap, port.name));
    }
}

}  // namespace

void RemoveDeadInstances(Registry& registry, const std::string& prefix) {
    const std::string device_key = std::string(kUsbDevices) + "\\" + kModemDevice;
    const auto instances = registry.SubKeys(device_key);
    if (!instances) return;
    for (const std::string& instance : *instances) {
        const pid_t owner = OwnerOf(instance, prefix);
        if (owner <= 0 || Running(owner)) continue;
        const std::string key = device_key + "\\" + instance;
        if (const auto name = registry.ReadString(key + "\\Device Parameters", kPortName))
            Unlist(registry, *name);
        IgnoreFailure(registry.DeleteKey(key));  // only tidies: the next run tries again
    }
}

Result<std::unique_ptr<PortRegistration>> PortRegistration::Register(Registry& registry,
                                                                     const std::string& device_path,
                                                                     const std::string& instance) {
    const auto taken = RecordedPortNames(registry);
    if (!taken) return taken.error();
    std::string com_name;
    for (int n = 1; com_name.empty() || taken->contains(com_name); ++n)
        com_name = "COM" + std::to_string(n);
    const std::string instance_key =
        std::string(kUsbDevices) + "\\" + kModemDevice + "\\" + instance;
    if (const auto written =
            registry.WriteString(instance_key + "\\Device Parameters", kPortName, com_name);
        !written)
        return Failed("cannot record the modem instance " + instance, written.error());
    std::unique_ptr<PortRegistration> registration(
        new PortRegistration(registry, device_path, instance_key, com_name));
    if (Status listed = registration->SetPresent(true); !listed) return listed.error();
    return registration;
}

// What stays behind is removed by the next simulator's RemoveDeadInstances.
PortRegistration::~PortRegistration() {
    IgnoreFailure(registry_.DeleteValue(kSerialMap, device_path_));
    IgnoreFailure(registry_.DeleteKey(instance_key_));
}

Status PortRegistration::SetPresent(bool present) {
    const RegistryStatus done = present ? registry_.WriteString(kSerialMap, device_path_, com_name_)
                                        : registry_.DeleteValue(kSerialMap, device_path_);
    if (!done && !(done.error().failure == RegistryFailure::ValueNotFound ||
                   done.error().failure == RegistryFailure::KeyNotFound))
        return Failed("cannot update the serial device map for " + com_name_, done.error());
    return {};
}

}  // namespace velka::modemsim
