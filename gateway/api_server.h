// gateway/: the local HTTP API through which other programs send and read messages.
// Sends go into the durable queue of the application core, exactly as a compose
// queues them; nothing here talks to the modem. The routes and their answers are
// written down in docs/api.md and docs/openapi.yaml.
//
// Threads: the server owns one listening thread (started by Start, joined by Stop)
// and the HTTP library's pool of connection threads, which run the handlers. The
// handlers reach the core only through its thread-safe calls (Enqueue, the queue
// snapshot and removal, the queue count) and the files, and this server's own state
// under its lock. The Note* calls come from the worker's thread (WorkerEvents).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/app_core.h"
#include "app/worker.h"
#include "platform/registry.h"
#include "platform/result.h"

namespace velka::gateway {

inline constexpr const char* kLoopback = "127.0.0.1";
inline constexpr int kDefaultPort = 8640;
// A request body above this is refused with 400 before it is parsed: a send of 1024
// characters to a few hundred numbers fits many times over.
inline constexpr std::size_t kMaxBodyBytes = 64 * 1024;
// Requests one client address may make in one second before it gets 429.
inline constexpr int kDefaultRequestsPerSecond = 100;
// The longest page of GET /inbox and /outbox.
inline constexpr std::size_t kMaxPageSize = 500;

struct ServerOptions {
    std::string address = kLoopback;  // another address only when the user sets one
    int port = kDefaultPort;          // 0: any free port (Port() tells which)
    std::string token;                // what "Authorization: Bearer" must carry
    int requests_per_second = kDefaultRequestsPerSecond;
    // Where the server says what it met but could answer around (a damaged side
    // file), one line (UTF-8) at a time, from a connection thread; none: stderr.
    std::function<void(const std::string& line)> log = nullptr;
};

class ApiServer {
  public:
    // `core` and `registry` (the contact book's) must outlive the server.
    ApiServer(app::AppCore& core, Registry& registry, ServerOptions options);
    // Stop().
    ~ApiServer();
    ApiServer(const ApiServer&) = delete;
    ApiServer& operator=(const ApiServer&) = delete;

    // Binds the address and port and starts serving on a thread of its own. Fails
    // with a sentence (English) when the address cannot be bound. Call once.
    Status Start();
    // The port bound; valid after Start succeeded.
    int Port() const;
    // Stops accepting, lets the handlers running finish and joins the threads. Safe
    // to call more than once.
    void Stop();

    // Requests from now on must carry `token` (a renewal). Any thread.
    void SetToken(std::string token);

    // Hooks the server onto the worker's events, after the callbacks already there,
    // so that it knows the modem's state and what became of each send. Before
    // AppCore::Start.
    void Observe(app::WorkerEvents& events);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velka::gateway
