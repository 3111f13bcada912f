#include "tools/velka-sms-cli/json.h"

namespace velka::cli {

std::string JsonText(const Json& value) {
    constexpr int kIndent = 2;
    constexpr bool kEscapeBeyondAscii = false;
    return value.dump(kIndent, ' ', kEscapeBeyondAscii, Json::error_handler_t::replace);
}

}  // namespace velka::cli
