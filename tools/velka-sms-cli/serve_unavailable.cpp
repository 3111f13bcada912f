// The Windows build has no HTTP library from which to build the gateway
// (gateway/CMakeLists.txt): serve says so.
#include "tools/velka-sms-cli/exit_status.h"
#include "tools/velka-sms-cli/serve_command.h"

namespace velka::cli {

int Serve(const std::vector<std::string_view>&, const StartWorker&) {
    return Fail(kFailed, "serve is not part of the Windows build.");
}

}  // namespace velka::cli
