#include "tests/modem/sim_fixture.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/registry.h"
#include "settings/port_discovery.h"

namespace velka::testing {

SimModems::SimModems(std::size_t count, std::size_t capacity, std::vector<bool> second_ports) {
    modemsim::SimulatorOptions options{modemsim::DefaultNumbers(count), dir_.path(), capacity};
    options.registry = &Registry::Machine();
    options.second_ports = std::move(second_ports);
    auto started = modemsim::Simulator::Start(options);
    if (!started) throw std::runtime_error(started.error().message);
    sim_ = std::move(*started);
}

std::uint16_t SimModems::ComNumber(std::size_t position, std::size_t port) const {
    return static_cast<std::uint16_t>(std::stoi(ComName(position, port).substr(3)));
}

std::string SimModems::Control(const std::string& request) {
    const std::string answer = sim_->Control(request);
    EXPECT_EQ(answer.rfind("error:", 0), std::string::npos) << request << ": " << answer;
    return answer;
}

std::string SimModems::Written(std::size_t position) {
    std::string bytes;
    for (const auto& entry : modem(position).Transcript()) {
        if (entry.direction == modemsim::Direction::ToModem) bytes += entry.bytes;
    }
    return bytes;
}

void SimModems::AsAnotherMakers(std::size_t position, const std::string& device_key) {
    Registry& registry = Registry::Machine();
    const std::string own = settings::kModemDeviceKeys[1];
    const auto instances = registry.SubKeys(own);
    ASSERT_TRUE(instances.ok());
    for (const std::string& instance : *instances) {
        const std::string key = own + "\\" + instance;
        const auto port = registry.ReadString(key + "\\Device Parameters", "PortName");
        if (port && *port == ComName(position)) {
            ASSERT_TRUE(registry.DeleteKey(key));
        }
    }
    ASSERT_TRUE(registry.WriteString(
        device_key + "\\port" + std::to_string(position) + "\\Device Parameters", "PortName",
        ComName(position)));
}

std::size_t Count(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace velka::testing
