#include "tests/modem/sim_fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "platform/registry.h"

namespace velka::testing {
namespace {

constexpr const char* kPortMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The POSIX device layer opens the device name it is given; until it looks COM
// names up itself, a link named "\\.\COMn" in the working directory leads there.
void LinkComName(const std::string& dir, std::size_t n, const std::string& device) {
    const std::filesystem::path link = std::filesystem::path(dir) / ("\\\\.\\COM" + std::to_string(n));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(device, link);
}

}  // namespace

SimModems::SimModems(std::size_t count, std::size_t capacity) {
    auto started = modemsim::Simulator::Start(
        {modemsim::DefaultNumbers(count), dir_.path(), capacity});
    if (!started) throw std::runtime_error(started.error().message);
    sim_ = std::move(*started);
    EXPECT_EQ(::chdir(dir_.path().c_str()), 0);
    for (std::size_t i = 1; i <= count; ++i) {
        const std::string device = sim_->modem(i - 1).device_path();
        Registry::Machine().WriteString(kPortMap, device, "COM" + std::to_string(i));
        LinkComName(dir_.path(), i, device);
    }
}

SimModems::~SimModems() {
    for (std::size_t i = 0; i < sim_->size(); ++i) {
        Registry::Machine().DeleteValue(kPortMap, sim_->modem(i).device_path());
    }
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
