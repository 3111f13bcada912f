#include "app/port_offer.h"

#include <algorithm>

#include "platform/codepage.h"
#include "serial/ser_selcom.h"
#include "settings/port_discovery.h"

namespace velka::app {

bool PortBefore(const std::string& a, const std::string& b) {
    return SelectedComNum(a) < SelectedComNum(b);
}

std::string ModemName(const modem::ModemInfo& info) {
    if (info.manufacturer.empty() || info.model.empty()) return info.manufacturer + info.model;
    return info.manufacturer + " " + info.model;
}

std::string PortLabel(const AnsweringPort& answering) {
    const std::string& name = answering.name;
    return answering.port + " (" + (name.empty() ? codepage::FromUtf8("модем") : name) + ")";
}

std::vector<std::string> PortsToProbe(Registry& registry, std::uint16_t held) {
    std::vector<std::string> ports = settings::DiscoverOtherUsbSerialPorts(registry);
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [&](const std::string& port) {
                                   const std::uint16_t number = SelectedComNum(port);
                                   return number == 0 || number == held;
                               }),
                ports.end());
    return ports;
}

PortProbe::PortProbe(const std::vector<std::string>& ports, Found found)
    : found_(std::move(found)) {
    for (const std::string& port : ports) {
        threads_.emplace_back([this, port] {
            const auto info = modem::Session::Probe(SelectedComNum(port), kProbeBound, stop_);
            if (info && !stop_.IsSet()) found_({port, ModemName(*info)});
        });
    }
}

void PortProbe::Finish() {
    for (std::thread& thread : threads_) {
        if (thread.joinable()) thread.join();
    }
}

PortProbe::~PortProbe() {
    stop_.Set();
    Finish();
}

}  // namespace velka::app
