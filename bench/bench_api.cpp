// The HTTP API's throughput on 127.0.0.1 through the library's client over one
// kept-alive connection: sends answered once their records are flushed to queue.db
// (no worker runs, so the queue only grows), and readings of the status.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/app_core.h"
#include "gateway/api_server.h"
#include "platform/registry.h"
#include "tests/support/temp_dir.h"

namespace velka::gateway {
namespace {

const std::string kToken(64, 'b');

// A server over a fresh program directory, and a client holding its token. The rate
// is lifted: one client here makes far more than a user's program would.
struct Served {
    Served() {
        if (!server->Start()) std::abort();
        client = std::make_unique<httplib::Client>(kLoopback, server->Port());
        client->set_bearer_token_auth(kToken);
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
    }
    testing::TempDir home;
    Registry registry{home.File("registry.db")};
    app::AppCore core{home.path()};
    std::unique_ptr<ApiServer> server =
        std::make_unique<ApiServer>(core, registry, ServerOptions{kLoopback, 0, kToken, 1'000'000});
    std::unique_ptr<httplib::Client> client;
};

void BM_PostAMessage(benchmark::State& state) {
    Served served;
    const std::string body = R"({"to": ["+79990000002"], "text": "Заказ 1042 готов"})";
    for (auto _ : state) {
        const auto result = served.client->Post("/api/v1/messages", body, "application/json");
        if (!result || result->status != 202) state.SkipWithError("the send was not accepted");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostAMessage)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_GetTheStatus(benchmark::State& state) {
    Served served;
    for (auto _ : state) {
        const auto result = served.client->Get("/api/v1/status");
        if (!result || result->status != 200) state.SkipWithError("the status was not given");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetTheStatus)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace velka::gateway

BENCHMARK_MAIN();
