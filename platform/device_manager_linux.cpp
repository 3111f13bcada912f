// The device manager on Linux: USB serial ports are found in sysfs, where each tty
// under /sys/class/tty links to its device, and a USB device's directory holds
// idVendor and idProduct.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/codepage.h"
#include "platform/device_manager.h"

namespace velka {

namespace fs = std::filesystem;

namespace {

constexpr char kComPrefix[] = "COM";

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB device above a tty's device directory, and the interface on the way.
struct UsbParent {
    fs::path device;
    fs::path interface;
};

std::optional<UsbParent> FindUsbParent(fs::path at) {
    UsbParent parent;
    for (; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        std::error_code error;
        if (fs::exists(at / "bInterfaceNumber", error)) parent.interface = at;
        if (fs::exists(at / "idVendor", error) && fs::exists(at / "idProduct", error)) {
            parent.device = at;
            return parent;
        }
    }
    return std::nullopt;
}

// A port keeps its instance across replugging into the same socket, or anywhere
// when the device has a serial number; each interface of a device is a port.
std::string InstanceOf(const UsbParent& parent, const std::string& tty_name) {
    const std::string serial = ReadFirstLine(parent.device / "serial");
    std::string instance = serial.empty() ? parent.device.filename().string() : serial;
    const std::string interface = parent.interface.empty()
                                      ? std::string()
                                      : ReadFirstLine(parent.interface / "bInterfaceNumber");
    instance += interface.empty() ? "&" + tty_name : "&MI_" + interface;
    return instance;
}

int ComNumberOf(const std::string& name) {
    if (name.size() <= 3 || !codepage::EqualIgnoreCase(name.substr(0, 3), kComPrefix)) return 0;
    try {
        return std::stoi(name.substr(3));
    } catch (const std::exception&) {
        return 0;
    }
}

// The key that holds an instance's PortName, under its Vid_xxxx&Pid_yyyy key.
std::string DeviceParametersKey(const std::string& vid_pid_key, const std::string& instance) {
    std::string key = vid_pid_key;
    key.append("\\").append(instance).append("\\Device Parameters");
    return key;
}

std::string UsbPortKey(const UsbSerialPort& port) {
    return DeviceParametersKey(
        std::string(kUsbEnumKey) + "\\Vid_" + port.vendor_id + "&Pid_" + port.product_id,
        port.instance);
}

}  // namespace

DeviceManager::DeviceManager(Registry& registry, std::string sys_root, std::string dev_root)
    : registry_(registry), sys_root_(std::move(sys_root)), dev_root_(std::move(dev_root)) {}

std::vector<UsbSerialPort> DeviceManager::Scan() const {
    std::vector<UsbSerialPort> ports;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(sys_root_) / "class" / "tty", error)) {
        const std::string name = entry.path().filename().string();
        const fs::path device = fs::canonical(entry.path() / "device", error);
        if (error) {
            error.clear();
            continue;
        }
        const auto parent = FindUsbParent(device);
        if (!parent) continue;
        ports.push_back(
            UsbSerialPort{dev_root_ + "/" + name, ReadFirstLine(parent->device / "idVendor"),
                          ReadFirstLine(parent->device / "idProduct"), InstanceOf(*parent, name)});
    }
    std::sort(ports.begin(), ports.end(),
              [](const auto& a, const auto& b) { return a.device_path < b.device_path; });
    return ports;
}

RegistryStatus DeviceManager::Refresh() {
    for (const UsbSerialPort& port : Scan()) {
        if (auto status = RecordUsbPort(port); !status) return status;
    }
    return DropVanishedPorts();
}

RegistryStatus DeviceManager::RecordUsbPort(const UsbSerialPort& port) {
    const std::string key = UsbPortKey(port);
    auto name = registry_.ReadString(key, "PortName");
    if (!name) {
        name = LowestFreeComName();
        if (!name) return name.error();
        if (auto status = registry_.WriteString(key, "PortName", *name); !status) return status;
    }
    const auto listed = registry_.ReadString(kSerialCommKey, port.device_path);
    if (listed && *listed == *name) return {};
    return registry_.WriteString(kSerialCommKey, port.device_path, *name);
}

RegistryStatus DeviceManager::DropVanishedPorts() {
    const auto values = registry_.Values(kSerialCommKey);
    if (!values) {
        return values.error().failure == RegistryFailure::KeyNotFound ? RegistryStatus()
                                                                      : values.error();
    }
    for (const auto& value : *values) {
        std::error_code error;
        if (fs::exists(value.name, error)) continue;
        if (auto status = registry_.DeleteValue(kSerialCommKey, value.name); !status) return status;
    }
    return {};
}

RegistryResult<std::string> DeviceManager::LowestFreeComName() {
    std::set<int> taken;
    if (const auto vid_pids = registry_.SubKeys(kUsbEnumKey)) {
        for (const auto& vid_pid : *vid_pids) {
            const std::string vid_pid_key = std::string(kUsbEnumKey) + "\\" + vid_pid;
            const auto instances = registry_.SubKeys(vid_pid_key);
            if (!instances) continue;
            for (const auto& instance : *instances) {
                const auto name =
                    registry_.ReadString(DeviceParametersKey(vid_pid_key, instance), "PortName");
                if (name) taken.insert(ComNumberOf(*name));
            }
        }
    }
    if (const auto values = registry_.Values(kSerialCommKey)) {
        for (const auto& value : *values) {
            const auto name = registry_.ReadString(kSerialCommKey, value.name);
            if (name) taken.insert(ComNumberOf(*name));
        }
    }
    int n = 1;
    while (taken.count(n)) ++n;
    return std::string(kComPrefix) + std::to_string(n);
}

RegistryResult<std::string> DeviceManager::RegisterPort(const std::string& device_path) {
    if (auto listed = registry_.ReadString(kSerialCommKey, device_path)) return listed;
    auto name = LowestFreeComName();
    if (!name) return name;
    if (auto status = registry_.WriteString(kSerialCommKey, device_path, *name); !status) {
        return status.error();
    }
    return name;
}

RegistryStatus DeviceManager::UnregisterPort(const std::string& device_path) {
    auto status = registry_.DeleteValue(kSerialCommKey, device_path);
    if (!status && (status.error().failure == RegistryFailure::ValueNotFound ||
                    status.error().failure == RegistryFailure::KeyNotFound)) {
        return {};
    }
    return status;
}

std::optional<std::string> DevicePathOfComName(Registry& registry, const std::string& com_name) {
    const auto values = registry.Values(kSerialCommKey);
    if (!values) return std::nullopt;
    for (const auto& value : *values) {
        const auto name = registry.ReadString(kSerialCommKey, value.name);
        if (name && codepage::EqualIgnoreCase(*name, com_name)) return value.name;
    }
    return std::nullopt;
}

RegistryStatus RefreshSerialPortList(Registry& registry) {
    return DeviceManager(registry).Refresh();
}

}  // namespace velka
