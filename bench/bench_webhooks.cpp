// The time from a received message kept to its webhook received: the event built
// from the PDU and appended to events.db (flushed), the delivery thread woken, the
// signed POST to a receiver on 127.0.0.1 answered. What the receiver's program
// waits after the message is in inbox.db.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/mutex.h"
#include "tests/support/temp_dir.h"
#include "webhooks/delivery.h"
#include "webhooks/events.h"

namespace velka::webhooks {
namespace {

// From +71234567890, in UCS2: "Пр"; each iteration gives it a new time stamp so
// that it is a new message, not the same one told again.
std::string Pdu(int n) {
    char stamp[15];
    std::snprintf(stamp, sizeof stamp, "622160%02d%02d%02d21", n / 3600 % 24, n / 60 % 60, n % 60);
    std::string pdu = "07910700000000F0040B911732547698F00008";
    for (int i = 0; i < 14; i += 2) {
        pdu += stamp[i + 1];
        pdu += stamp[i];
    }
    return pdu + "04041F0440";
}

void BM_StoredToWebhookReceived(benchmark::State& state) {
    Mutex lock;
    ConditionVariable came;
    std::size_t received = 0;
    httplib::Server server;
    server.Post("/hook", [&](const httplib::Request&, httplib::Response& answer) {
        answer.status = 204;
        MutexLock guard(lock);
        ++received;
        came.notify_all();
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread listening([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));

    testing::TempDir dir;
    EventJournal journal(dir.File("events.db"));
    if (!journal.Open([](const StoredEvent&) { return false; })) state.SkipWithError("open");
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/hook";
    Delivery delivery(journal, {{url, {}, "secret", HookKey(url)}});
    JournalRecorder recorder(
        journal, [](const StoredEvent&) { return false; }, [&] { delivery.Wake(); });
    delivery.Start();

    int n = 0;
    for (auto _ : state) {
        if (!recorder.Received({Pdu(++n)})) state.SkipWithError("record failed");
        MutexLock guard(lock);
        came.wait(lock, [&]() REQUIRES(lock) { return received >= static_cast<std::size_t>(n); });
    }
    delivery.Stop();
    server.stop();
    listening.join();
}
BENCHMARK(BM_StoredToWebhookReceived)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

}  // namespace
}  // namespace velka::webhooks
BENCHMARK_MAIN();
