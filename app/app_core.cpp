#include "app/app_core.h"

#include <algorithm>

#include "app/sim_limits.h"
#include "app/status_text.h"
#include "modem/inbox_sink.h"
#include "platform/codepage.h"
#include "platform/com_name.h"
#include "platform/registry.h"
#include "settings/startup_settings.h"
#include "store/sim_counters_file.h"

namespace velka::app {
namespace {

// "1 сообщение", "2 сообщения", "5 сообщений", "21 сообщение", "11 сообщений".
std::string Messages(std::size_t count) {
    const std::size_t tens = count % 100;
    const std::size_t ones = count % 10;
    const char* word = "сообщений";
    if (tens < 11 || tens > 14) {
        if (ones == 1) word = "сообщение";
        if (ones >= 2 && ones <= 4) word = "сообщения";
    }
    return std::to_string(count) + " " + word;
}

}  // namespace

std::string OtherWorkerNotice(const LockHolder& holder) {
    const std::string who =
        holder.pid == 0
            ? "другая программа"
            : "программа " + (holder.program.empty() ? std::string("без имени") : holder.program) +
                  " (процесс " + std::to_string(holder.pid) + ")";
    return codepage::FromUtf8("С модемом уже работает " + who +
                              ". Сообщения будут поставлены в очередь и отправлены ею.");
}

std::string NotQueuedNotice() {
    return codepage::FromUtf8(
        "Сообщение не поставлено в очередь: не удалось записать файл очереди.");
}

std::string ClosingWithQueuedNotice(std::size_t count) {
    const bool one = count % 10 == 1 && count % 100 != 11;
    return codepage::FromUtf8("В очереди осталось " + Messages(count) + ". " +
                              (one ? "Оно будет отправлено" : "Они будут отправлены") +
                              " при следующем запуске программы.");
}

AppCore::AppCore(std::string program_directory)
    : directory_(std::move(program_directory)),
      queue_file_(FilePath(kQueueFile)),
      session_(stop_, Registry::Machine()) {}

AppCore::~AppCore() {
    Shutdown();
}

Result<std::int32_t> AppCore::ReadSettings() {
    settings::StartupSettings settings;
    const Status read = settings::ReadStartupSettings(FilePath(kConfigFile), settings);
    switches_.reception.store(settings.reception);
    switches_.delivery_reports.store(settings.delivery_reports);
    switches_.full_ucs2_segments.store(settings.full_ucs2_segments);
    if (!read) return read.error();
    return settings.port;
}

Status AppCore::Start(const WorkerEvents& events) {
    const auto port = ReadSettings();
    if (!port) return port.error();
    if (*port == 0) return {};
    if (*port < 0 || *port > 0xFFFF) {
        return Error{"There is no serial port COM" + std::to_string(*port) + "."};
    }
    const auto modems = settings::ReadPoolModems(FilePath(kConfigFile), *port);
    if (!modems) return modems.error();
    for (const settings::PoolModem& modem : *modems) {
        if (modem.port < 0 || modem.port > 0xFFFF) {
            return Error{"There is no serial port COM" + std::to_string(modem.port) + "."};
        }
    }
    // Bound first: a front end names the port even when another process drives it.
    session_.Bind(static_cast<std::uint16_t>(*port));
    const auto taken = TakeModem();
    if (!taken) return taken.error();
    if (!*taken) return {};
    StartWorkers(*modems, events);
    return {};
}

// The first modem's worker tells everything; the others tell what concerns the
// queue and the boxes, while what they say of their own modem (its state, its
// operator, how it announces) waits for a view of the pool.
void AppCore::StartWorkers(const std::vector<settings::PoolModem>& modems,
                           const WorkerEvents& events) {
    const auto senders = static_cast<std::size_t>(
        std::count_if(modems.begin(), modems.end(),
                      [](const settings::PoolModem& modem) { return modem.sends; }));
    pool_ =
        std::make_unique<PoolShare>(queue_file_, std::max<std::size_t>(senders, 1), modems.size());
    pool_->identities_path = FilePath(kModemsFile);
    WorkerEvents others = events;
    others.on_modem_state = nullptr;
    others.on_modem_info = nullptr;
    others.on_reception = nullptr;
    const SimGate gate = OpenSimGate();
    const WorkerFiles files{FilePath(kInboxFile), FilePath(kOutboxFile), FilePath(kUnsentFile)};
    for (std::size_t i = 0; i < modems.size(); ++i) {
        modem::Session* session = &session_;  // bound by Start
        if (i > 0) {
            more_sessions_.push_back(std::make_unique<modem::Session>(stop_, Registry::Machine()));
            session = more_sessions_.back().get();
            session->Bind(static_cast<std::uint16_t>(modems[i].port));
        }
        const WorkerDuties duties{modems[i].sends, modems[i].receives, i == 0};
        workers_.push_back(std::make_unique<Worker>(*session, queue_, *pool_, stop_, switches_,
                                                    files, i == 0 ? events : others, *recorder_,
                                                    duties));
        Worker& worker = *workers_.back();
        if (pin_) worker.SetPin(*pin_);
        worker.SetSafetyPoll(safety_poll_);
        worker.SetSimGate(gate);
    }
    queue_.ExpectMembers(workers_.size(), Clock::now() + kPoolSettling);
    for (const auto& worker : workers_) worker->Start();
}

SimGate AppCore::OpenSimGate() {
    auto counters = SimCounters::Open(FilePath(store::kSimCountersFile), WallSeconds());
    if (!counters) return SimGate(nullptr, FilePath(kConfigFile), counters.error());
    sim_counters_ = std::move(*counters);
    return SimGate(sim_counters_.get(), FilePath(kConfigFile));
}

Status AppCore::InitOnce() {
    const auto port = ReadSettings();
    if (!port) return port.error();
    if (*port <= 0 || *port > 0xFFFF) {
        return Error{
            "No serial port is set: put SerialPort=COM<number> in section [DEVICEMAP] of " +
            FilePath(kConfigFile) + "."};
    }
    const std::string name = ComName(static_cast<unsigned>(*port));
    const auto taken = TakeModem();
    if (!taken) return taken.error();
    if (!*taken) {
        return Error{"The modem on " + name + " is driven by " + Describe(*other_worker_) +
                     "; it receives the messages."};
    }
    session_.Bind(static_cast<std::uint16_t>(*port));
    if (pin_) session_.GivePin(*pin_);
    if (!session_.Open() && session_.Status().state == modem::ModemState::Unknown) {
        return Error{"The modem on " + name + " does not answer, or the port cannot be opened."};
    }
    if (const auto& denial = session_.Status().denial) {
        return Error{PortDeniedText(*denial) + "\r\n" + PortDeniedEnglish(*denial)};
    }
    return {};
}

Result<modem::ReceptionReport> AppCore::ReceiveOnce() {
    if (const Status opened = InitOnce(); !opened) return opened.error();
    return ReceiveThrough(session_, session_.Status());
}

std::vector<AppCore::PortReception> AppCore::ReceiveOthers() {
    std::vector<PortReception> receptions;
    for (const settings::PoolModem& other : OtherModems()) {
        if (!other.receives) continue;
        modem::Session session(stop_, Registry::Machine());
        const auto port = static_cast<std::uint16_t>(other.port);
        const modem::ModemStatus state = OpenOther(session, port);
        receptions.push_back({port, ReceiveThrough(session, state)});
    }
    return receptions;
}

Result<modem::ReceptionReport> AppCore::ReceiveThrough(modem::Session& session,
                                                       const modem::ModemStatus& state) {
    if (state.state != modem::ModemState::Ready) {
        // The sentence of a silent modem speaks of the worker's retries, which one
        // cycle here does not make: the state's word says it.
        const std::string name = ComName(session.PortNumber());
        const std::string detail = ModemStateText(state);
        if (detail.empty() || state.state == modem::ModemState::NotAnswering)
            return Error{ModemLine(name, state, {})};
        return Error{name + ": " + detail};
    }
    modem::InboxSink inbox(FilePath(kInboxFile), [&session] { return SimKey(session.Identity()); });
    RecordedReception recorded(inbox, *recorder_);
    auto report = session.Receive(recorded);
    if (!report.listed) {
        return Error{"The modem on " + ComName(session.PortNumber()) +
                     " did not list its messages."};
    }
    if (!report.saved) {
        return Error{report.saved.error().message + ". " + std::to_string(report.unsaved) +
                     " message(s) stay on the modem until they can be saved."};
    }
    return report;
}

Result<AppCore::ModemReport> AppCore::ProbeOnce() {
    if (const Status opened = InitOnce(); !opened) return opened.error();
    return ModemReport{session_.Status(), session_.Info(), session_.Identity(),
                       session_.Announces()};
}

std::vector<AppCore::PortReport> AppCore::ProbeOthers() {
    std::vector<PortReport> reports;
    for (const settings::PoolModem& other : OtherModems()) {
        modem::Session session(stop_, Registry::Machine());
        const auto port = static_cast<std::uint16_t>(other.port);
        const modem::ModemStatus state = OpenOther(session, port);
        reports.push_back({port, {state, session.Info(), session.Identity(), session.Announces()}});
    }
    return reports;
}

std::vector<settings::PoolModem> AppCore::OtherModems() const {
    if (!modem_lock_) return {};
    auto modems =
        settings::ReadPoolModems(FilePath(kConfigFile), static_cast<std::int32_t>(PortNumber()));
    if (!modems || modems->empty()) return {};
    modems->erase(modems->begin());
    return std::move(*modems);
}

modem::ModemStatus AppCore::OpenOther(modem::Session& session, std::uint16_t port) {
    session.Bind(port);
    if (pin_) session.GivePin(*pin_);
    const bool ready = session.Open();
    if (!ready && session.Status().state == modem::ModemState::Unknown)
        return {modem::ModemState::NotAnswering};
    return session.Status();
}

void AppCore::RunOnModem(const ModemErrand& errand) {
    if (WorkerRunning()) {
        // An errand no worker answers to would wait until the program closes. The
        // workers are asked as they saw their modems last, which may be before
        // they told the queue: the user picks a modem from what they saw.
        const bool answered =
            std::any_of(workers_.begin(), workers_.end(), [&](const auto& worker) {
                return AnswersTo(
                    NamesOf(worker->Seen().identity, {worker->Port(), worker->ConfiguredPort()}),
                    errand.via);
            });
        if (!errand.via.empty() && !answered)
            return errand.failed(Error{ErrandModemUnknownText(errand.via)});
        // Refused once the worker has ended: nothing would ever run it.
        if (!queue_.AddErrand(errand)) errand.failed(Error{ErrandNotRunText({}, true)});
        return;
    }
    // A first modem that does not answer keeps no errand from the others, but one
    // named by its port is told why it did not run.
    const Status opened = InitOnce();
    const bool names_first = AnswersTo(ModemNames({}, {}, {PortNumber()}, {}), errand.via);
    if (!opened && (errand.via.empty() || names_first || !modem_lock_))
        return errand.failed(opened.error());
    if (opened &&
        (errand.via.empty() || AnswersTo(NamesOf(session_.Identity(), {PortNumber()}), errand.via)))
        return RunOpened(session_, session_.Status(), errand);
    for (const settings::PoolModem& other : OtherModems()) {
        modem::Session session(stop_, Registry::Machine());
        const modem::ModemStatus state = OpenOther(session, static_cast<std::uint16_t>(other.port));
        if (AnswersTo(NamesOf(session.Identity(), {session.PortNumber()}), errand.via))
            return RunOpened(session, state, errand);
    }
    errand.failed(Error{ErrandModemUnknownText(errand.via)});
}

void AppCore::RunOpened(modem::Session& session, const modem::ModemStatus& state,
                        const ModemErrand& errand) {
    if (state.state != modem::ModemState::Ready)
        return errand.failed(Error{ErrandNotRunText(state, false)});
    errand.run(session);
}

std::vector<std::string> AppCore::NamesOf(const modem::DeviceIdentity& identity,
                                          std::initializer_list<std::uint16_t> ports) const {
    const std::string sim = SimKey(identity);
    std::string sim_name;
    if (!sim.empty()) {
        if (const auto settings = settings::ReadSimSettings(FilePath(kConfigFile), sim))
            sim_name = settings->name;
    }
    return ModemNames(sim, identity.imei, ports, sim_name);
}

std::string AppCore::CurrentSimKey() const {
    return SimKey(workers_.empty() ? session_.Identity() : workers_.front()->Identity());
}

std::optional<SimStanding> AppCore::CurrentSim() const {
    return StandingOf(workers_.empty() ? session_.Identity() : workers_.front()->Identity());
}

std::optional<SimStanding> AppCore::StandingOf(const modem::DeviceIdentity& identity) const {
    std::string key = SimKey(identity);
    if (key.empty()) return std::nullopt;
    return ReadSimStanding(FilePath(kConfigFile), FilePath(store::kSimCountersFile), std::move(key),
                           WallSeconds());
}

Status AppCore::SaveSimSettings(std::string_view key, const settings::SimSettings& sim) {
    Status written = settings::WriteSimSettings(FilePath(kConfigFile), key, sim);
    SimLimitsChanged();
    return written;
}

void AppCore::SetReceptionEnabled(bool enabled) {
    switches_.reception.store(enabled);
    for (const auto& worker : workers_) worker->ReceptionSwitched();
}

void AppCore::SetPin(std::string pin) {
    pin_ = std::move(pin);
    for (const auto& worker : workers_) worker->SetPin(*pin_);
}

Result<bool> AppCore::TakeModem() {
    auto attempt = LockFile::TryAcquireNamed(FilePath(kWorkerLockFile));
    if (!attempt) return attempt.error();
    if (auto* holder = std::get_if<LockHolder>(&*attempt)) {
        other_worker_ = std::move(*holder);
        return false;
    }
    modem_lock_.emplace(std::move(std::get<LockFile>(*attempt)));
    // Only the process that drives the modem keeps events, and from before the
    // first thing it could report.
    recorder_->Begin();
    return true;
}

Result<std::vector<std::uint64_t>> AppCore::Enqueue(std::span<const packet> records,
                                                    std::u16string_view whole, const Route& route) {
    std::vector<QueuedRecord> items(records.size());
    std::vector<std::uint64_t> ids;
    for (std::size_t i = 0; i < records.size(); ++i) {
        items[i].id = NewRecordId();
        items[i].record = records[i];
        items[i].whole = whole;
        items[i].route = route;
        ids.push_back(items[i].id);
    }
    if (const Status appended = queue_file_.AppendRecords(items); !appended)
        return appended.error();
    queue_.NoteQueuedOnDisk();
    return ids;
}

std::vector<AppCore::PoolModemView> AppCore::PoolModems() const {
    std::vector<PoolModemView> modems;
    const std::int64_t now = WallSeconds();
    for (const auto& worker : workers_) {
        PoolModemView view{worker->Port(),     worker->Seen(),        worker->Sends(),
                           worker->Receives(), worker->SameModemAs(), std::nullopt};
        if (const std::string key = SimKey(view.seen.identity); !key.empty() && sim_counters_)
            view.usage = sim_counters_->UsageOf(key, now);
        modems.push_back(std::move(view));
    }
    return modems;
}

void AppCore::RequestStop() {
    stop_.Set();
    queue_.Wake();
}

void AppCore::Shutdown() {
    RequestStop();
    for (const auto& worker : workers_) worker->Join();
    session_.Close();
    for (const auto& session : more_sessions_) session->Close();
    modem_lock_.reset();
}

QueueSnapshot AppCore::SnapshotOfQueue() {
    return SnapshotQueue(queue_, FilePath(kUnsentFile), Clock::now());
}

AppCore::QueueSummary AppCore::SummaryOfQueue() {
    MutexLock guard(queue_.lock());
    return {queue_.Count(), queue_.Bulk()};
}

}  // namespace velka::app
