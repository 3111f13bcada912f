// USSD through the virtual modem, answering at once: the time from a request handed
// to the application core (the errand the window's "USSD-запрос…" runs) to the
// answer back on the caller's side, with the worker running as it does under the
// window; and the same on a bare session, the dialogue alone. The network's own
// delay is 0 there, so what is measured is the client's share. SendBehindCheck: the
// time from a record queued to its send confirmed, alone and queued just after a
// balance check that the network answers in 200 ms: the send waits for the check,
// and no more.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "app/app_core.h"
#include "modem/session.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "store/packet.h"
#include "tests/support/temp_dir.h"
#include "tools/modemsim/simulator.h"

namespace velka {
namespace {

// A virtual modem, in the form and order the arguments name.
class VirtualModem {
  public:
    VirtualModem(const char* form, const char* order) {
        modemsim::SimulatorOptions options{modemsim::DefaultNumbers(1), dir_.path(), 5};
        options.registry = &Registry::Machine();
        auto started = modemsim::Simulator::Start(options);
        if (!started) std::abort();
        sim_ = std::move(*started);
        sim_->Control(std::string("fault 1 ussd-form ") + form);
        sim_->Control(std::string("fault 1 ussd-order ") + order);
    }
    std::string com_name() const { return sim_->com_name(0); }
    void Control(const std::string& request) { sim_->Control(request); }
    std::uint16_t com_number() const {
        return static_cast<std::uint16_t>(std::stoi(com_name().substr(3)));
    }

  private:
    testing::TempDir dir_;
    std::unique_ptr<modemsim::Simulator> sim_;
};

const char* const kForms[] = {"text", "packed", "ucs2"};
const char* const kOrders[] = {"after", "before"};

void ByWorker(benchmark::State& state) {
    VirtualModem modem(kForms[state.range(0)], kOrders[state.range(1)]);
    testing::TempDir home;
    const std::string config = home.File("Config.ini");
    if (!profile::WriteString(config, "DEVICEMAP", "SerialPort", modem.com_name()).ok())
        std::abort();
    app::AppCore core(home.path());
    if (!core.Start().ok()) std::abort();
    for (auto _ : state) {
        std::promise<modem::UssdAnswer> answered;
        core.RunOnModem(
            {[&](modem::Session& session) { answered.set_value(session.Ussd(u"*100#")); },
             [&](const Error&) { answered.set_value({modem::UssdStatus::NoModem}); }});
        if (answered.get_future().get().status != modem::UssdStatus::Done) {
            state.SkipWithError("the request was not answered");
            break;
        }
    }
    core.Shutdown();
}
BENCHMARK(ByWorker)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->ArgNames({"form", "order"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BySession(benchmark::State& state) {
    VirtualModem modem(kForms[state.range(0)], "after");
    StopSignal stop;
    modem::Session session(stop, Registry::Machine());
    session.Bind(modem.com_number());
    for (auto _ : state) {
        if (session.Ussd(u"*100#").status != modem::UssdStatus::Done) {
            state.SkipWithError("the request was not answered");
            break;
        }
    }
}
BENCHMARK(BySession)
    ->DenseRange(0, 2)
    ->ArgName("form")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void SendBehindCheck(benchmark::State& state) {
    const bool check = state.range(0) != 0;
    VirtualModem modem("text", "after");
    modem.Control("fault 1 ussd-delay 200");
    testing::TempDir home;
    if (!profile::WriteString(home.File("Config.ini"), "DEVICEMAP", "SerialPort", modem.com_name())
             .ok())
        std::abort();
    std::mutex lock;
    std::condition_variable confirmed;
    int sent = 0;  // guarded by lock
    app::WorkerEvents events;
    events.on_send = [&](std::uint64_t, app::SendOutcome outcome) {
        if (outcome != app::SendOutcome::Sent) return;
        const std::lock_guard guard(lock);
        ++sent;
        confirmed.notify_all();
    };
    app::AppCore core(home.path());
    if (!core.Start(events).ok()) std::abort();
    for (auto _ : state) {
        const int before = [&] {
            const std::lock_guard guard(lock);
            return sent;
        }();
        if (check)
            core.RunOnModem(
                {[](modem::Session& session) { session.Ussd(u"*100#"); }, [](const Error&) {}});
        const packet record = MakePacket("+79990000002", "07.12.2026 10:00:00", "hello");
        if (!core.Enqueue({&record, 1}).ok()) std::abort();
        std::unique_lock held(lock);
        confirmed.wait(held, [&] { return sent > before; });
    }
    core.Shutdown();
}
BENCHMARK(SendBehindCheck)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("check")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

}  // namespace
}  // namespace velka

BENCHMARK_MAIN();
