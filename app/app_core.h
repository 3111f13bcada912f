// The application core: what the main window holds for the whole run, without the
// window. It owns the program directory, the outgoing queue and its lock, the
// queue file, the stop and reception flags, the modem session, the worker and the
// lock that makes it the one process driving the modem of this program directory. A front end (the
// desktop window, velka-sms-cli) creates one, calls Start() at start-up, Enqueue() to send,
// RequestStop() when asked to close and Shutdown() when it closes. The store files
// are read and written under their own lock (store/box_lock.h), which every
// process honours.
//
// Threads: every member is for the front end's thread, except the WorkerEvents,
// which run on the worker's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/errand.h"
#include "app/outgoing_queue.h"
#include "app/queue_file.h"
#include "app/queue_view.h"
#include "app/sim_limits.h"
#include "app/worker.h"
#include "modem/session.h"
#include "platform/lock_file.h"
#include "platform/program_dir.h"
#include "platform/result.h"
#include "platform/stop_signal.h"
#include "settings/pool_settings.h"
#include "store/packet.h"

namespace velka::app {

class AppCore {
  public:
    // The core of a program whose files lie in `program_directory` (without a
    // trailing separator): Config.ini, inbox.db, outbox.db, unsent.db.
    explicit AppCore(std::string program_directory);
    // Shutdown().
    ~AppCore();
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    // Reads Config.ini: the reception flag from "PerformMailCheck", the port from
    // "SerialPort", and starts the worker on that port when one is set, whatever
    // the reception flag says; and a worker for each other modem of the pool
    // (settings/pool_settings.h), all sharing the queue. A pool section that does
    // not convert starts none and gives its message. A "SerialPort" whose number does not convert
    // starts no worker and gives the conversion message for the front end to show
    // ("'x' is not a valid integer value"); so does a number that no port can have.
    // A port number of 0 starts no worker. When another process drives the modem
    // (it holds worker.lock), no worker starts either, and OtherWorker() names
    // that process; records queued here go to it through the queue file.
    // Call once; `events` go to the worker.
    Status Start(const WorkerEvents& events = {});

    // The process that held worker.lock when Start or ReceiveOnce looked.
    const std::optional<LockHolder>& OtherWorker() const { return other_worker_; }

    // For a front end that runs no worker (velka-sms-cli receive): reads Config.ini
    // as Start() does, then initialises the modem and runs one reception cycle on
    // the calling thread, through the same call as the worker's. Fails with a
    // sentence when no port is set, the setting does not convert, another process
    // drives the modem or the modem does not answer. REQUIRES: no worker running.
    Result<modem::ReceptionReport> ReceiveOnce();
    // After ReceiveOnce, whether or not its modem answered, as long as it took
    // worker.lock: one reception cycle through each other modem of the pool whose
    // reception is on, opened on this thread in turn and closed again, into the same
    // inbox with its SIM noted. A modem that fails does not stop the others.
    // REQUIRES: no worker running.
    struct PortReception {
        std::uint16_t port = 0;
        Result<modem::ReceptionReport> report;
    };
    std::vector<PortReception> ReceiveOthers();

    // What the modem said of itself when it was opened.
    struct ModemReport {
        modem::ModemStatus status;
        modem::ModemInfo info;
        modem::DeviceIdentity identity;
        bool announces = false;  // it took AT+CNMI and announces what arrives
    };
    // For a front end that runs no worker (velka-sms-cli status): initialises the
    // modem on the calling thread and gives its state and what it is. Fails as
    // ReceiveOnce does when no port is set, another process drives the modem or the
    // modem does not answer; a SIM that is not ready is a state, not a failure.
    // REQUIRES: no worker running.
    Result<ModemReport> ProbeOnce();
    // After a ProbeOnce that succeeded: each other modem of the pool, opened on this
    // thread as ProbeOnce opens the first and closed again. One that does not
    // answer is NotAnswering; one whose port is gone, PortMissing.
    // REQUIRES: no worker running.
    struct PortReport {
        std::uint16_t port = 0;
        ModemReport modem;
    };
    std::vector<PortReport> ProbeOthers();

    // Runs an errand with the modem (app/errand.h). While the worker runs, hands it
    // over and returns at once: the worker runs it before the next record, on its
    // thread. Otherwise runs it here and now, as ReceiveOnce does, on this thread
    // (which then blocks on the modem), and tells `failed` in English why it could
    // not: no port, another process drives the modem, a silent modem. An errand
    // that names a modem goes to the worker of that modem; without a worker the
    // modems of the pool are opened in turn until one answers to its name. No
    // modem answering to it is a failure too.
    void RunOnModem(const ModemErrand& errand);

    // The PIN the user gave, sent once when the SIM asks for it; kept in memory
    // only. Before Start() or ReceiveOnce(), or while the worker runs.
    void SetPin(std::string pin);

    // How often the worker polls a modem that announces arrivals (kSafetyPoll).
    // Who keeps events for other programs (the webhooks); nobody unless set. It
    // must outlive the worker. Before Start() or ReceiveOnce().
    void SetEventRecorder(EventRecorder& recorder) { recorder_ = &recorder; }
    // Before Start().
    void SetSafetyPoll(Clock::duration interval) { safety_poll_ = interval; }
    // How long a text cut short waits for its SIM (kPinnedWait). Before Start().
    void SetPinnedWait(Clock::duration wait) { queue_.SetPinnedWait(wait); }
    bool WorkerRunning() const { return !workers_.empty(); }
    // How many modems the workers drive (the pool's size); 0 while none runs.
    std::size_t ModemCount() const { return workers_.size(); }
    // A modem of the running pool, as a front end shows it and offers it to send
    // through.
    struct PoolModemView {
        std::uint16_t port = 0;
        Worker::ModemSeen seen;  // as its worker last saw it; empty before its first opening
        bool sends = true;
        bool receives = true;
        // Another port of the modem the worker on this port drives: this one stands
        // aside. 0 otherwise.
        std::uint16_t same_modem_as = 0;
        // What its SIM sent this hour, day and month; none while no SIM is known or
        // the counters could not be read.
        std::optional<SimUsage> usage;
    };
    // The modems the workers drive, the first first; none while none runs. Reads
    // the counters in memory: cheap enough for a view refreshed every second.
    std::vector<PoolModemView> PoolModems() const;
    // The port the (first) worker uses, where its modem went after a replug; 0 when
    // none was configured.
    std::uint16_t PortNumber() const {
        return workers_.empty() ? session_.PortNumber() : workers_.front()->Port();
    }

    // Queues records, one per recipient: they are in queue.db, flushed once for
    // them all, when this returns. Gives their ids, which WorkerEvents::on_send
    // reports. Records queued when no worker runs here wait in the file for the
    // process that drives the modem, or for the next start. Blocks on the disk
    // and, briefly, on another process's append; never on the modem. `whole`, when
    // set, is the records' text as typed, which their Windows-1251 text lost
    // characters of: it is queued with them and sent instead. `route`: the modem
    // they go through (app/routes.h); none, the pool chooses.
    Result<std::vector<std::uint64_t>> Enqueue(std::span<const packet> records,
                                               std::u16string_view whole = {},
                                               const Route& route = {});

    // How many records wait in queue.db, unsent. Any time.
    Result<std::size_t> QueuedCount() const { return queue_file_.CountWaiting(); }

    // ---- What the status bar and the queue view show ----
    // The records of this process's queue (as the worker holds it) and of unsent.db.
    QueueSnapshot SnapshotOfQueue();
    // How many records the worker holds (waiting and being sent), and the bulk's progress.
    struct QueueSummary {
        std::size_t count = 0;
        BulkProgress bulk;
    };
    QueueSummary SummaryOfQueue() EXCLUDES(queue_.lock());
    // Removes a waiting record for good (app/queue_view.h). Blocks on the disk.
    Result<Removal> RemoveFromQueue(std::uint64_t id) {
        return RemoveQueued(queue_, queue_file_, id);
    }

    // ---- The limits of the SIM in the modem (app/sim_limits.h) ----
    // The key of the SIM in the (first) modem (SimKey): as its worker read it at its
    // last opening of the modem, or, without a worker, as ProbeOnce read it. Empty while
    // none is known: the modem not read yet, no SIM ready, or another process
    // drives the modem.
    std::string CurrentSimKey() const;
    // The settings and this hour's, day's and month's counts of the SIM in the
    // modem; nothing while none is known. Blocks on the disk.
    std::optional<SimStanding> CurrentSim() const;
    // The same of the SIM of `identity`; nothing when it tells no SIM key.
    std::optional<SimStanding> StandingOf(const modem::DeviceIdentity& identity) const;
    // Writes the settings of SIM `key` into Config.ini, then SimLimitsChanged(),
    // whether all of them were written or only some. Blocks on the disk.
    Status SaveSimSettings(std::string_view key, const settings::SimSettings& sim);
    // The SIMs' limits in Config.ini changed: the records they hold are asked
    // again at once, and go if the new limits let them; a record resting after a
    // failed send keeps its pause. Whoever writes the limits calls it. A worker
    // of another process asks again only when its records fall due. Any thread.
    void SimLimitsChanged() { queue_.WakeHeldBySim(); }

    bool ReceptionEnabled() const { return switches_.reception.load(); }
    // Takes effect at once: off, nothing more is fetched from the modem's memories,
    // even on an announcement the worker is woken by; on, a reception cycle runs
    // at once.
    void SetReceptionEnabled(bool enabled);

    bool DeliveryReportsEnabled() const { return switches_.delivery_reports.load(); }
    // Takes effect from the next message the worker sends.
    void SetDeliveryReportsEnabled(bool enabled) { switches_.delivery_reports.store(enabled); }

    bool FullUcs2Segments() const { return switches_.full_ucs2_segments.load(); }
    // Takes effect from the next text the worker begins; one cut short goes on as
    // it began.
    void SetFullUcs2Segments(bool enabled) { switches_.full_ucs2_segments.store(enabled); }

    // The close query: sets the stop flag and wakes every wait. Never blocks long.
    void RequestStop();
    // The close: stops the worker and waits for it, closes the port and lets the
    // modem go to another process. Records still queued stay in queue.db for the
    // next start. Safe to call more than once.
    void Shutdown();

    const std::string& ProgramDirectory() const { return directory_; }
    std::string FilePath(const std::string& name) const { return InDirectory(directory_, name); }

  private:
    // Reads Config.ini, sets the reception flag and gives the port (0: none).
    Result<std::int32_t> ReadSettings();
    // ReadSettings, the port's number and the initialisation, on the calling
    // thread, holding worker.lock. Fails when no port is set, another process
    // drives the modem or the modem is silent, and when the user may not open the
    // port (in Russian, Windows-1251, and then in English).
    Status InitOnce();
    // The modems of the pool after the first, as Config.ini lists them; none
    // while this process does not hold worker.lock.
    std::vector<settings::PoolModem> OtherModems() const;
    // Opens `session` on another modem of the pool, as InitOnce opens the first:
    // its state, NotAnswering when it said nothing at all.
    modem::ModemStatus OpenOther(modem::Session& session, std::uint16_t port);
    // Runs `errand` on an opened session in `state`, or tells it why not.
    void RunOpened(modem::Session& session, const modem::ModemStatus& state,
                   const ModemErrand& errand);
    // What an errand may name a modem by (app/routes.h): its identity as seen, on
    // these ports.
    std::vector<std::string> NamesOf(const modem::DeviceIdentity& identity,
                                     std::initializer_list<std::uint16_t> ports) const;
    // One reception cycle through an opened session in `state`, into the inbox.
    Result<modem::ReceptionReport> ReceiveThrough(modem::Session& session,
                                                  const modem::ModemStatus& state);
    // Takes worker.lock. False, with other_worker_ set, when another process holds it.
    Result<bool> TakeModem();
    // Starts a worker per modem of the pool, session_ driving the first.
    void StartWorkers(const std::vector<settings::PoolModem>& modems, const WorkerEvents& events);
    // The counters of what each SIM sent (sim-counters.db) and the limits over them,
    // for the worker that takes the modem.
    SimGate OpenSimGate();

    const std::string directory_;
    OutgoingQueue queue_;                     // its own lock guards it
    QueueFile queue_file_;                    // appends from any thread; the rest the worker's
    std::optional<LockFile> modem_lock_;      // front end's thread only
    std::optional<LockHolder> other_worker_;  // front end's thread only
    StopSignal stop_;          // set by RequestStop(); read by the worker and port waits
    WorkerSwitches switches_;  // set by the front end; read by the worker
    // Driven by the front end's thread before the worker starts and after it
    // ended, by the worker's thread in between.
    modem::Session session_;
    // The other modems of the pool, each driven by its worker's thread.
    std::vector<std::unique_ptr<modem::Session>> more_sessions_;  // front end's thread only
    std::unique_ptr<PoolShare> pool_;  // made by Start for the workers; outlives them
    // Shared by the worker (through its SimGate) from Start to the end of Shutdown.
    std::unique_ptr<SimCounters> sim_counters_;
    // The first modem's worker first: it runs the errands. Front end's thread only.
    std::vector<std::unique_ptr<Worker>> workers_;
    std::optional<std::string> pin_;                // front end's thread only; for Start
    Clock::duration safety_poll_ = kSafetyPoll;     // front end's thread only
    EventRecorder* recorder_ = &NoEventRecorder();  // front end's thread only; for Start
};

// What a front end tells the user, in Windows-1251:
// another process drives the modem, and queued messages go out through it;
std::string OtherWorkerNotice(const LockHolder& holder);
// the queue file refused new records, which are therefore not queued;
std::string NotQueuedNotice();
// the window closes with `count` messages still queued; they go out at the next start.
std::string ClosingWithQueuedNotice(std::size_t count);

inline constexpr const char* kConfigFile = "Config.ini";
inline constexpr const char* kInboxFile = "inbox.db";
inline constexpr const char* kOutboxFile = "outbox.db";
inline constexpr const char* kUnsentFile = "unsent.db";
inline constexpr const char* kQueueFile = "queue.db";
// Held by the process that drives the modem; names it for the others.
inline constexpr const char* kWorkerLockFile = "worker.lock";

}  // namespace velka::app
