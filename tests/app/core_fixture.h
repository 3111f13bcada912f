// A core of its own over virtual modems, for the tests of the worker through the
// application core: its program directory, the modems and what the worker told.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/app_core.h"
#include "tests/app/outcomes.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/temp_dir.h"

namespace velka::testing {

// Queues `text` to `number` as one record, as a compose does, and gives its id;
// 0, with a failure, when the queue file refused it.
inline std::uint64_t QueueOne(app::AppCore& core, const std::string& number,
                              const std::string& text) {
    const packet record = MakePacket(number, "09.12.2026 10:00:00", text);
    const auto ids = core.Enqueue({&record, 1});
    EXPECT_TRUE(ids.ok());
    return ids ? ids->front() : 0;
}

class CoreOnModemsTest : public ::testing::Test {
  protected:
    // `second_ports`, by modem: which have a second port (SimModems).
    explicit CoreOnModemsTest(std::size_t modems, std::vector<bool> second_ports = {})
        : modems_(modems, 20, std::move(second_ports)) {}

    SimModems modems_;
    TempDir home_;
    Outcomes outcomes_;
    app::AppCore core_{home_.path()};
};

}  // namespace velka::testing
