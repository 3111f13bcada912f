#include "app/port_offer.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/device_access.h"
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
    if (!answering.denied_group.empty()) {
        return answering.port + codepage::FromUtf8(" (нет доступа: группа ") +
               answering.denied_group + ")";
    }
    const std::string& name = answering.name;
    return answering.port + " (" + (name.empty() ? codepage::FromUtf8("модем") : name) + ")";
}

std::string ModemPortLabel(Registry& registry, const std::string& port) {
    const auto denial = ComPortDenial(registry, port);
    return denial ? PortLabel({port, "", codepage::FromUtf8(denial->group)}) : port;
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
            if (stop_.IsSet()) return;
            if (info) {
                found_({port, ModemName(*info), ""});
            } else if (const auto denial = ComPortDenial(Registry::Machine(), port)) {
                found_({port, "", codepage::FromUtf8(denial->group)});
            }
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
