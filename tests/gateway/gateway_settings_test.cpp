// The [Gateway] section of Config.ini.
#include "gateway/gateway_settings.h"

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace velka::gateway {
namespace {

TEST(GatewaySettings, AConfigWithoutTheSectionServesNothingAndOnlyLoopbackWhenSwitchedOn) {
    testing::TempDir home;
    const GatewaySettings settings = ReadGatewaySettings(home.File("Config.ini"));
    EXPECT_FALSE(settings.enabled);
    EXPECT_EQ(settings.address, "127.0.0.1");
    EXPECT_EQ(settings.port, kDefaultPort);
}

TEST(GatewaySettings, WhatIsWrittenIsReadBackAndAPortThatIsNoPortReadsAsTheDefault) {
    testing::TempDir home;
    const std::string config = home.File("Config.ini");
    const GatewaySettings chosen{true, "0.0.0.0", 9000};
    ASSERT_TRUE(WriteGatewaySettings(config, chosen).ok());
    EXPECT_EQ(ReadGatewaySettings(config), chosen);
    for (const char* port : {"0", "65536", "80x", "-1", ""}) {
        ASSERT_TRUE(profile::WriteString(config, kGatewaySection, "Port", port).ok());
        EXPECT_EQ(ReadGatewaySettings(config).port, kDefaultPort) << port;
    }
}

}  // namespace
}  // namespace velka::gateway
