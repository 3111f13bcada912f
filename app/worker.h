// The background worker: the one thread that drives the modem. It sends the queued
// records one after another, each after a fresh modem initialisation, appending
// each sent record to outbox.db; when no record is due and reception is on, it runs
// the reception cycle. A modem that took AT+CNMI announces what arrives: the worker
// then sleeps on the port and runs the cycle when "+CMTI:" or "+CDSI:" comes, and
// otherwise only every kSafetyPoll, in case an announcement was lost; between
// those it talks to the modem only for a due record and the signal reading. A
// modem that announces nothing is polled every 5 s, each pass after a full
// initialisation. It calls nothing in the user interface; whoever wants to know
// what happened passes WorkerEvents.
//
// The order of writes for one record, each flushed before the next step:
//   1. the record in queue.db (by whoever queued it);
//   2. after each message the modem confirms with "+CMGS:", a Confirmed entry in
//      queue.db: how many messages are confirmed, under which reference, and the
//      modem's message reference for the one just confirmed;
//   3. once all are, the record appended to outbox.db, then its messages'
//      references to outbox.states;
//   4. a Finished entry in queue.db, in the same write as the next note (or on
//      the next idle pass), with no flush of its own.
// A kill after 2 and before 4 is on disk leaves a record whose messages are all confirmed:
// the next start appends it to outbox.db unless it is there already (found past
// the outbox size kept in its last Confirmed entry) and finishes it. A kill inside
// the messages leaves the confirmed count: the next start goes on with the next
// message under the same reference. Only a kill between the modem's "+CMGS:" and
// step 2 sends a message twice.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/event_recorder.h"
#include "app/outgoing_queue.h"
#include "app/queue_file.h"
#include "app/sim_limits.h"
#include "modem/inbox_sink.h"
#include "modem/session.h"
#include "platform/mutex.h"
#include "platform/result.h"
#include "platform/stop_signal.h"
#include "store/packet.h"

namespace velka::app {

enum class SendOutcome {
    Sent,        // confirmed by the modem and appended to outbox.db
    Failed,      // refused or unconfirmed; back in the queue, tried again after a pause
    Unsendable,  // no PDU can be built for it; moved to unsent.db, never tried again
};

// The files the worker writes.
enum class StoreFile { Inbox, Outbox, Unsent, Queue };

// A send that failed: the record goes back to the queue and rests until `next_attempt`.
struct SendFailure {
    std::uint64_t id = 0;
    // The modem's error answer ("+CMS ERROR: 500"); empty when the modem said nothing.
    std::string reason;
    int attempts = 0;
    Clock::time_point next_attempt{};
};

// Called on the worker's thread, with no lock held; keep them short.
struct WorkerEvents {
    std::function<void(std::uint64_t id, SendOutcome outcome)> on_send;
    std::function<void(const std::vector<store::ReceivedRecord>& stored)>
        on_received;  // non-empty batches
    // A store file refused a write (a full or read-only disk): said when its writes
    // start failing, and not again until one has succeeded. Nothing is lost: sent
    // records wait in memory, received messages stay on the modem.
    std::function<void(StoreFile file, const Error& error)> on_store_failed;
    // The modem's state changed: the SIM wants its PIN, refused it, is missing or
    // has failed, or the modem stopped answering (after three silences in a row),
    // or all is well again. Said once per change; ModemStateText words it.
    std::function<void(const modem::ModemStatus& status)> on_modem_state;
    // What the modem is, its operator and signal: at each opening, and when the
    // signal changes (asked at most every 30 s while idle).
    std::function<void(const modem::ModemInfo& info)> on_modem_info;
    // Part of queue.db could not be read: those bytes were kept aside in another
    // file; every record that could be read goes on.
    std::function<void(const QueueDamage& damage)> on_queue_damaged;
    // A send failed and the record rests until its next attempt: why, and when.
    std::function<void(const SendFailure& failure)> on_send_failed;
    // Status reports were kept in reports.db (non-empty batches): the delivery
    // states of sent records (messages/delivery_states.h) may have changed.
    std::function<void(const std::vector<store::StatusReport>& kept)> on_reports;
    // How the worker learns of arrivals changed (modem::Reception): said once the
    // modem is ready, and on each change; ReceptionText words it.
    std::function<void(modem::Reception mode)> on_reception;
    // A record waits for its SIM's limits (app/sim_limits.h): which, and until when.
    std::function<void(const SimRest& rest)> on_sim_rest;
};

// The files the worker writes, in the program directory.
struct WorkerFiles {
    std::string inbox;   // received records
    std::string outbox;  // sent records
    std::string unsent;  // records that can never be sent
};

// Pauses of the worker's loop.
inline constexpr auto kIdlePause = std::chrono::milliseconds(2000);
inline constexpr auto kAfterReceptionPause = std::chrono::milliseconds(3000);
// How often a worker asleep on the port looks whether queue.db grew: a record
// another process queued (velka-sms-cli send beside the window) cannot wake it.
// A look costs about 0.2 ms of processor time (the wait on the port left and
// taken up again, and a stat); every 3 s it keeps an idle client near 0.01 % of
// one core, where every second it would pass the 0.02 % that idle may cost.
inline constexpr auto kQueueFileLook = std::chrono::seconds(3);
// A modem of a pool whose sends failed this many times in a row rests, leaving
// the records to the others, for RetryPause of its failures beyond these.
inline constexpr int kFailuresBeforeResting = 3;
// A modem that went silent this many times in a row is said not to answer.
inline constexpr int kSilencesBeforeTelling = 3;
// The pause after a silence doubles from kIdlePause up to this.
inline constexpr auto kLongestSilencePause = std::chrono::minutes(3);
// While the modem announces arrivals, the reception cycle still runs this often,
// for an announcement the modem dropped or the line lost.
inline constexpr auto kSafetyPoll = std::chrono::seconds(60);

// The switches of the settings dialog the worker reads as it goes: set by the
// front end's thread, read by the worker's; each takes effect at its next use.
struct WorkerSwitches {
    std::atomic<bool> reception{true};
    std::atomic<bool> delivery_reports{false};  // TP-SRR in each message sent
    // UCS2 segments of 67 characters instead of the designed 63 (SegmentRoom::Full).
    std::atomic<bool> full_ucs2_segments{false};
};

// What the workers of one pool (a worker per modem) share besides the queue. The
// owner of the workers makes it before they start; it outlives them.
struct PoolShare {
    explicit PoolShare(QueueFile& file, std::size_t senders_count = 1, std::size_t modems_count = 1)
        : queue_file(file), senders(senders_count), modems(modems_count) {}
    // Every worker appends its entries; only the holder of `reading` reads the file
    // (its read offset is one for the pool) and rewrites it. Whoever comes first
    // reads: a worker whose modem fails must not keep records from the others.
    QueueFile& queue_file;
    // The workers that send. With more than one, a SIM at its limit rests alone and
    // leaves its records to the others.
    const std::size_t senders;
    const std::size_t modems;  // workers in all
    Mutex reading;
    bool restored GUARDED_BY(reading) = false;  // queue.db was loaded once
    // Records some worker took off the queue and has not recorded in a store file
    // yet (a full disk): queue.db is not compacted while they are only there.
    std::atomic<std::size_t> unrecorded{0};
    std::atomic<std::size_t> resting{0};  // senders whose SIM is at a limit

    // The modems the workers drive: a worker looking for its modem after a replug
    // probes no port another worker holds, and two ports of one modem (many USB
    // modems offer several) are driven once, by the worker that claimed its IMEI
    // first. Every worker's port is in `ports` before the workers start.
    Mutex modems_lock;
    std::set<std::uint16_t> ports GUARDED_BY(modems_lock);
    std::map<std::string, std::uint16_t> driven GUARDED_BY(modems_lock);  // IMEI -> port
    // The IMEI last seen on each port of the settings (kModemsFile), so that a modem
    // plugged in again under another port while the program was closed is found at
    // the next start. Written under modems_lock; empty: not kept.
    std::string identities_path;
};

// Beside Config.ini: "[IMEI]" with a key per port of the settings ("COM5") and the
// IMEI of the modem last seen on it. Written by the workers alone.
inline constexpr const char* kModemsFile = "modems.ini";

// How often a worker whose port is gone looks for its modem on the other ports.
inline constexpr auto kReplugLook = std::chrono::seconds(5);

// What a worker of a pool does: send records, fetch what arrives, run the errands
// that name no modem (the first modem's; every worker runs those that name it).
struct WorkerDuties {
    bool sends = true;
    bool receives = true;
    bool errands = true;
};

class Worker {
  public:
    // Everything passed must outlive the worker. The session has its port bound; the
    // worker's thread drives it from Start() to the end of Join().
    Worker(modem::Session& session, OutgoingQueue& queue, PoolShare& pool,
           const std::atomic<bool>& stop, const WorkerSwitches& switches, WorkerFiles files,
           WorkerEvents events, EventRecorder& recorder, WorkerDuties duties = {});
    // Joins the thread; the owner sets the stop flag and wakes the queue first.
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Starts the thread. Called once.
    void Start();
    // Waits for the thread to end. REQUIRES: the stop flag set and the queue woken.
    void Join();

    // The PIN the user gave, for the worker to send once at the next
    // initialisation that finds the SIM asking for it. Kept in memory only. Any thread.
    void SetPin(std::string pin);
    // The reception flag changed: the worker looks at it at once, fetching nothing
    // more when it is off and running a cycle at once when it is on. Any thread.
    void ReceptionSwitched();
    // The safety poll's interval (kSafetyPoll); tests shorten or lengthen it.
    // Before Start().
    void SetSafetyPoll(Clock::duration interval) { safety_poll_ = interval; }
    // The limits of the SIM it sends through; none unless set. Before Start().
    void SetSimGate(SimGate gate) { sim_gate_.emplace(std::move(gate)); }
    // What the modem and its SIM said they are at the worker's last opening of
    // the modem, its state and what it told of itself; empty before the first.
    struct ModemSeen {
        modem::DeviceIdentity identity;
        modem::ModemStatus status;  // NotAnswering after kSilencesBeforeTelling silences
        modem::ModemInfo info;
    };
    ModemSeen Seen() const EXCLUDES(identity_lock_);
    modem::DeviceIdentity Identity() const { return Seen().identity; }
    // Whether records go out through it. Any thread.
    bool Sends() const { return duties_.sends; }
    // Whether what arrives on its modem is fetched (while reception is on). Any thread.
    bool Receives() const { return duties_.receives; }
    // The port it drives now: the settings' one, or where its modem went after a
    // replug. Any thread.
    std::uint16_t Port() const { return port_.load(); }
    // The port its settings name, which still names its modem after a replug. Any thread.
    std::uint16_t ConfiguredPort() const { return configured_port_; }
    // While its port is another port of a modem another worker drives: that
    // worker's port, and this one stands aside; 0 otherwise. Any thread.
    std::uint16_t SameModemAs() const { return same_modem_as_.load(); }

  private:
    // Those marked EXCLUDES take the queue lock themselves, briefly.
    void Run() EXCLUDES(queue_.lock());
    void SendPass() EXCLUDES(queue_.lock());
    void IdlePass() EXCLUDES(queue_.lock());
    // Opens the modem and runs the errand, or tells it why not.
    void ErrandPass(const ModemErrand& errand);
    // The worker ends: the errands left are told they will not run.
    void DropErrands() EXCLUDES(queue_.lock());

    // ---- The queue file and the send path ----
    // Reads queue.db unless another worker of the pool reads it now: at the first
    // look, Restore; then TakeInNewRecords.
    void ReadQueueFile();
    // Reads queue.db at start: records whose messages were all confirmed are
    // recorded, the others queued in their order. False when the file could not
    // be read; the next pass tries again.
    bool Restore() REQUIRES(pool_.reading);
    // Takes in the records queued in queue.db since the last look, by this
    // process or another.
    void TakeInNewRecords() REQUIRES(pool_.reading);
    // Drops finished records from queue.db while nothing waits, nothing is being
    // sent and no worker of the pool holds records its store file refused.
    void CompactQueueFile();
    // The SIM this worker sends through (WorkerSim).
    std::string OwnSim() const;
    // Tells the queue what this worker's modem answers to and whether it takes
    // records (OutgoingQueue::SetMember), once its SIM is known.
    void TellMembership();
    // What the routes and the errands may name this modem by now (app/routes.h):
    // worked out afresh, as an errand may name the modem by the IMEI its opening
    // just learned while the worker waits. Worker's thread only.
    std::vector<std::string> OwnNames() const;
    // The SIM `number` last wrote to or was written from is this worker's.
    void NoteSticky(const packet& record);
    // OwnSim once the modem was ready, empty (any SIM) before.
    std::string SimForQueue() const;
    // Whether a record is due for this worker: it sends, its SIM is not resting, and
    // one waits that did not begin on another SIM.
    bool MayTakeDue(Clock::time_point now) const REQUIRES(queue_.lock());
    // When the next record may fall due for this worker.
    std::optional<Clock::time_point> NextDueForMe() const REQUIRES(queue_.lock());
    // The record goes to the backlog of `file` and counts as held by the pool.
    void Hold(std::vector<QueuedRecord>& backlog, QueuedRecord item);
    // The SIM's rest ends at `until`, or has ended (nothing); one for its limits
    // also when the limits change from `limit_changes` (OutgoingQueue::LimitChanges).
    void SetResting(std::optional<Clock::time_point> until,
                    std::optional<std::uint64_t> limit_changes = std::nullopt);
    bool Resting(Clock::time_point now) const REQUIRES(queue_.lock());
    void Deliver(QueuedRecord item) EXCLUDES(queue_.lock());
    // Puts a record not begun back to rest while its SIM is at a limit; false when
    // it may go now.
    bool RestsForSim(QueuedRecord& item) EXCLUDES(queue_.lock());
    // Sends a text begun on another SIM again from its first message.
    void StartAgainWhole(QueuedRecord& item) EXCLUDES(queue_.lock());
    // How the record's text is cut: as it began, or as the setting says now.
    modem::SegmentRoom RoomFor(const QueuedRecord& item) const;
    // Sends the messages of the record the modem has not confirmed yet, noting
    // each confirmation in queue.db before the next message goes.
    modem::SendResult SendRemaining(QueuedRecord& item);
    void NoteConfirmed(QueuedRecord& item);
    // The record's first message went: it goes on through this SIM (queue.sims).
    void NoteSim(QueuedRecord& item);
    // Tells on_received and on_reports what a reception kept, and on_store_failed
    // when the inbox refused it.
    void Received(const modem::ReceptionReport& report);
    // Notes in queue.db where unsent.db ends, before the record goes there.
    void NoteUnsendable(QueuedRecord& item);
    // Writes the Finished entries that have not ridden along with a note yet.
    void NoteFinished();
    void Retry(QueuedRecord item);
    void RestAfterFailures();
    void Report(const std::vector<QueueDamage>& damage) const;
    // Appends to a store file under the box lock, then finishes the records in
    // queue.db; records that could not be written (a full disk) wait in `backlog`
    // and go first at the next write.
    void Record(StoreFile file, std::vector<QueuedRecord>& backlog, QueuedRecord item)
        EXCLUDES(queue_.lock());
    // Tries again to write the records the disk refused earlier: on every idle pass,
    // so they land once the disk has room, and once more when the thread ends.
    void WriteBacklogs() EXCLUDES(queue_.lock());
    void WriteBacklog(StoreFile file, std::vector<QueuedRecord>& backlog) EXCLUDES(queue_.lock());
    // Tells on_store_failed when a file's writes start failing.
    void Written(StoreFile file, const Status& status);
    // The reception cycle (modem::Session::Receive).
    void ReceiveCycle() EXCLUDES(queue_.lock());
    // Whether the modem announces arrivals on a port that is open and answering,
    // and the inbox takes what it lists.
    bool Listening() const;
    // One idle pass while Listening(): sleeps on the port until an announcement,
    // a record queued or due, the stop, the safety poll or the signal reading, then
    // does what that asks.
    void ListenPass() EXCLUDES(queue_.lock());
    // The sleep of ListenPass; returns at once when a record waits.
    void AwaitReason() EXCLUDES(queue_.lock());
    // Whether something ended the wait for the worker to act on (not queue.db).
    bool HeardAReason() const;
    // Sleeps until `deadline` or the stop flag, and, when `for_records`, until a
    // record becomes due or the reception switch changes.
    void Pause(Clock::duration length, bool for_records) EXCLUDES(queue_.lock());
    // Tells on_send, and ends the queue's note of the record being sent.
    void Notify(std::uint64_t id, SendOutcome outcome) const;

    // --- the modem's identity: second ports and replugs ---
    // Before its first opening: the IMEI of the modem on the port, asked without
    // changing any of its settings, is claimed for this worker; the port of a
    // modem another worker drives makes this one stand aside.
    void ClaimModem();
    // The modem answered with `imei`: claimed, or this worker stands aside; kept in
    // kModemsFile when new.
    void NoteImei(const std::string& imei);
    // Claims `imei` for this worker's port; false, standing aside, when another
    // port drives it.
    bool Claim(const std::string& imei);
    // While the port is gone: looks for the modem of the IMEI this worker knows on
    // the ports no worker holds, at most every kReplugLook; true when it found it
    // and the session is bound to its new port.
    bool FindMovedModem();
    void BindTo(std::uint16_t port);

    // --- the modem's state, direct deliveries and recovery ---
    // The initialisation with the PIN the user gave since; tells what changed.
    bool OpenModem();
    // Keeps and acknowledges what the modem handed over directly.
    void KeepDelivered();
    // After modem work: a silence closes the port (the next pass opens it afresh and
    // starts from the initialisation) and counts towards "not answering".
    void AfterModemWork();
    // kIdlePause, or the growing pause after silences.
    Clock::duration RecoveryPause() const;
    void TellModemState();

    modem::Session& session_;  // driven by the worker's thread while it runs
    OutgoingQueue& queue_;
    PoolShare& pool_;
    QueueFile& queue_file_;  // pool_.queue_file
    const std::atomic<bool>& stop_;
    const WorkerSwitches& switches_;
    const WorkerFiles files_;
    modem::InboxSink inbox_;
    EventRecorder& recorder_;
    RecordedReception reception_;  // inbox_ with recorder_'s events
    const WorkerEvents events_;
    std::vector<QueuedRecord> outbox_backlog_;  // worker's thread only
    std::vector<QueuedRecord> unsent_backlog_;  // worker's thread only
    // Records in outbox.db or unsent.db whose Finished entry is not in queue.db yet.
    std::vector<std::uint64_t> unnoted_finished_;     // worker's thread only
    std::array<bool, 4> failing_{};                   // by StoreFile; worker's thread only
    int silences_ = 0;                                // in a row; worker's thread only
    modem::ModemStatus told_status_;                  // last said; worker's thread only
    modem::ModemInfo told_info_;                      // last said; worker's thread only
    std::optional<modem::Reception> told_reception_;  // last said; worker's thread only
    Clock::duration safety_poll_ = kSafetyPoll;       // set before Start
    std::optional<SimGate> sim_gate_;                 // set before Start
    Clock::time_point last_cycle_{};                  // worker's thread only
    const WorkerDuties duties_;
    bool sim_known_ = false;  // the modem was ready once; worker's thread only
    std::string member_sim_;  // the SIM it is a member of the pool by; worker's thread only
    const std::uint16_t configured_port_;  // the settings' port, kModemsFile's key
    std::atomic<std::uint16_t> port_;      // set by the worker's thread, read by any
    std::atomic<std::uint16_t> same_modem_as_{0};
    std::string imei_;      // of its modem, once known; worker's thread only
    bool claimed_ = false;  // the IMEI was asked, by a probe or an opening; worker's thread only
    Clock::time_point next_search_{};  // FindMovedModem; worker's thread only
    std::string member_name_;          // that SIM's name in Config.ini; worker's thread only

    int failures_in_a_row_ = 0;  // sends; worker's thread only
    // While its SIM rests at a limit, in a pool of several senders; worker's thread only.
    std::optional<Clock::time_point> resting_until_;
    std::optional<std::uint64_t> rest_limit_changes_;  // worker's thread only
    // Set by the queue when records or errands come (OutgoingQueue::AddWakeSignal):
    // ends the worker's sleep on its modem's port.
    StopSignal wake_;
    std::atomic<bool> reception_switched_{false};  // set by any thread, cleared by the worker
    Mutex pin_lock_;
    std::optional<std::string> new_pin_ GUARDED_BY(pin_lock_);
    // What the session says of the modem, copied by the worker after each opening
    // for the front end, which may not ask the session while the worker drives it.
    mutable Mutex identity_lock_;
    ModemSeen seen_ GUARDED_BY(identity_lock_);
    std::thread thread_;
};

}  // namespace velka::app
