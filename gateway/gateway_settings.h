// The API's settings in Config.ini, section [Gateway]: whether the window serves it,
// and where. velka-sms-cli serve takes the address and port from here too, unless
// its command line gives them. Blocks on the disk; front end's thread.
#pragma once

#include <string>

#include "gateway/api_server.h"
#include "platform/result.h"

namespace velka::gateway {

inline constexpr const char* kGatewaySection = "Gateway";

struct GatewaySettings {
    bool enabled = false;             // Enabled=1: the window serves the API
    std::string address = kLoopback;  // Address=
    int port = kDefaultPort;          // Port=, 1..65535
    bool operator==(const GatewaySettings&) const = default;
};

// The section as it stands; a key missing, or a port that is no port, reads as
// the default.
GatewaySettings ReadGatewaySettings(const std::string& config_file);
Status WriteGatewaySettings(const std::string& config_file, const GatewaySettings& settings);

}  // namespace velka::gateway
