#include "tools/velka-sms-cli/serve_command.h"

#include <charconv>
#include <cstdio>
#include <string>

#include "gateway/api_server.h"
#include "gateway/api_token.h"
#include "gateway/gateway_settings.h"
#include "platform/program_dir.h"
#include "platform/registry.h"
#include "tools/velka-sms-cli/console.h"
#include "tools/velka-sms-cli/exit_status.h"
#include "webhooks/webhook_service.h"

namespace velka::cli {
namespace {

// The options, from [Gateway] of `config_file` where the command line gives none,
// or a sentence saying what is wrong with them.
Result<gateway::ServerOptions> ParseServe(const std::vector<std::string_view>& args,
                                          const std::string& config_file) {
    const gateway::GatewaySettings configured = gateway::ReadGatewaySettings(config_file);
    gateway::ServerOptions options;
    options.address = configured.address;
    options.port = configured.port;
    for (std::size_t i = 0; i < args.size(); i += 2) {
        if (args[i] != "--address" && args[i] != "--port")
            return Error{"serve takes --address A and --port P, not '" + std::string(args[i]) +
                         "'."};
        if (i + 1 == args.size()) return Error{std::string(args[i]) + " needs a value."};
        const std::string_view value = args[i + 1];
        if (args[i] == "--address") {
            options.address = std::string(value);
        } else if (args[i] == "--port") {
            int port = 0;
            const auto [end, problem] =
                std::from_chars(value.data(), value.data() + value.size(), port);
            if (problem != std::errc() || end != value.data() + value.size() || port < 0 ||
                port > 65535)
                return Error{"--port takes 0 to 65535, not '" + std::string(value) + "'."};
            options.port = port;
        } else {
            return Error{"serve takes --address A and --port P, not '" + std::string(args[i]) +
                         "'."};
        }
    }
    return options;
}

}  // namespace

int Serve(const std::vector<std::string_view>& args, const StartWorker& start) {
    // Declared before the core, so that the delivery ends after the worker: this
    // process drives the modem for long, and posts the events it and the short
    // commands before it kept in events.db.
    webhooks::WebhookService hooks(ProgramDirectory(), [] {});
    app::AppCore core(ProgramDirectory());
    core.SetEventRecorder(hooks);
    auto options = ParseServe(args, core.FilePath(app::kConfigFile));
    if (!options) return Fail(kBadInput, options.error().message);
    CatchInterrupts();  // before any thread starts

    const auto token = gateway::LoadOrMakeToken(core.ProgramDirectory());
    if (!token) return Fail(kFailed, token.error().message);
    options->token = *token;
    gateway::ApiServer server(core, Registry::Machine(), *options);
    app::WorkerEvents events;
    if (const int status =
            start(core, events,
                  [&server, &hooks](app::WorkerEvents& all) {
                      server.Observe(all);
                      all.on_modem_state = [before = std::move(all.on_modem_state),
                                            &hooks](const modem::ModemStatus& state) {
                          if (before) before(state);
                          hooks.ModemStateChanged(state);
                      };
                  });
        status != 0)
        return status;
    if (const Status listening = server.Start(); !listening) {
        core.Shutdown();
        return Fail(kFailed, listening.error().message);
    }
    std::fprintf(
        stderr, "velka-sms-cli: serving http://%s:%d/api/v1/ (token in %s); Ctrl-C ends.\n",
        options->address.c_str(), server.Port(), core.FilePath(gateway::kTokenFile).c_str());
    WaitForInterrupt();
    // The server first: a send it accepts after the worker stopped would wait in
    // queue.db for the next start, but none should be accepted while closing.
    server.Stop();
    core.Shutdown();
    return 0;
}

}  // namespace velka::cli
