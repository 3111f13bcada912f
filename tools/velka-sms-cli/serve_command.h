// velka-sms-cli serve [--address A] [--port P]: the worker and the local HTTP API
// (gateway/) until Ctrl-C or a request to end, for a machine without a desktop.
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "app/app_core.h"

namespace velka::cli {

// Adds a command's own callbacks to the worker's events, after the common ones.
using ObserveWorker = std::function<void(app::WorkerEvents& events)>;
// Starts `core`'s worker with `events` the way every long-running command does,
// `observe` adding its own before the start, saying why on stderr when it cannot:
// 0 when the worker runs, else the exit status.
using StartWorker =
    std::function<int(app::AppCore& core, app::WorkerEvents& events, const ObserveWorker& observe)>;

// Runs "serve" with the arguments after it: the worker (started by `start`) and the
// API on the address and port given (else those of Config.ini's [Gateway], else
// loopback and 8640), the token in
// api-token.txt beside Config.ini (made at the first start). Blocks until
// interrupted, then stops the server before the worker. Main's thread; call before
// any other thread starts.
int Serve(const std::vector<std::string_view>& args, const StartWorker& start);

}  // namespace velka::cli
