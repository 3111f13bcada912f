#include "app/worker.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "app/port_offer.h"
#include "app/status_text.h"
#include "platform/codepage.h"
#include "platform/com_name.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "serial/ser_selcom.h"
#include "settings/port_discovery.h"
#include "store/box_lock.h"
#include "store/content_file.h"
#include "store/queue_id_file.h"
#include "store/sent_file.h"
#include "store/sim_note_file.h"
#include "store/store_file.h"

namespace velka::app {

namespace {

// Where the store file (outbox.db or unsent.db) holds the records already, each
// looked for past its mark, at a place no other of them was found at. Only a kill
// between appending records and finishing them in queue.db leaves them there. The
// workers of a pool append in whatever order their modems finish, so the records
// may stand in another order than the queue's.
std::vector<std::optional<std::size_t>> FoundInStoreFile(const std::string& path,
                                                         const std::vector<QueuedRecord>& items) {
    std::vector<std::optional<std::size_t>> found(items.size());
    const auto box = store::BoxFile::Open(path);
    if (!box) return found;
    std::unordered_set<std::size_t> taken;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i].outbox_mark) continue;
        const PacketBytes wanted = EncodePacket(items[i].record);
        for (std::size_t at = *items[i].outbox_mark / kPacketSize; at < box->size(); ++at) {
            if (!taken.contains(at) && EncodePacket(box->at(at)) == wanted) {
                found[i] = at;
                taken.insert(at);
                break;
            }
        }
    }
    return found;
}

// Whether the sent file has entries for the record at `position`.
bool HasSentEntries(const std::vector<store::SentEntry>& entries, std::size_t position,
                    const packet& record) {
    return std::any_of(entries.begin(), entries.end(), [&](const store::SentEntry& entry) {
        return entry.record == position && entry.checksum == record.checksum;
    });
}

// Writes the records of `backlog` that `path` lacks: sent records with their
// messages' entries in the sent file beside it. A sent record found in outbox.db
// whose entries a kill or a refused write kept out gets them now.
// The whole texts of `records`, about to be appended to the store file at `path`,
// go to its content file first: a record is never kept without the text its own
// bytes lost. A kill between the two leaves entries no record carries yet; the
// record appended at the next start carries their checksum and finds them again.
Status AppendWholeTexts(const store::BoxLock& held, const std::string& path,
                        const std::vector<const QueuedRecord*>& records) {
    const auto count = store::RecordCount(path);
    if (!count) return count.error();
    std::vector<store::ContentEntry> entries;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i]->whole.empty()) continue;
        store::ContentEntry entry;
        entry.record = static_cast<std::uint32_t>(*count + i);
        entry.checksum = records[i]->record.checksum;
        entry.content.body = store::ContentBody::WholeText;
        entry.content.text = records[i]->whole;
        entries.push_back(std::move(entry));
    }
    return entries.empty() ? Status() : store::AppendContent(held, path, entries);
}

// The SIM notes of sent records whose SIM is known, once the records are on the
// disk: `at[i]` is where items[i] stands in the store file at `path`. A note the
// disk refuses costs the record its SIM column alone; the record stays sent.
void NoteSims(const store::BoxLock& held, const std::string& path,
              const std::vector<std::size_t>& at, const std::vector<const QueuedRecord*>& items) {
    std::vector<store::SimNote> notes;
    for (std::size_t i = 0; i < items.size(); ++i) {
        // Beyond 2^32 records a position would wrap onto an earlier record.
        if (items[i]->sim.empty() || PortSim(items[i]->sim) || at[i] > UINT32_MAX) continue;
        notes.push_back(
            {static_cast<std::uint32_t>(at[i]), items[i]->record.checksum, items[i]->sim});
    }
    IgnoreFailure(store::AppendSimNotes(held, path, notes));
}

Status AppendMissing(const store::BoxLock& held, StoreFile file, const std::string& path,
                     const std::vector<QueuedRecord>& backlog) {
    const auto there = FoundInStoreFile(path, backlog);
    std::vector<const QueuedRecord*> missing_items;
    std::vector<packet> missing;
    std::vector<std::vector<store::SegmentSent>> missing_sent;
    std::vector<std::size_t> found_at;
    std::vector<const QueuedRecord*> found_items;
    std::vector<packet> found;
    std::vector<std::vector<store::SegmentSent>> found_sent;
    for (std::size_t i = 0; i < backlog.size(); ++i) {
        if (!there[i]) {
            missing_items.push_back(&backlog[i]);
            missing.push_back(backlog[i].record);
            missing_sent.push_back(backlog[i].sent);
        } else if (!backlog[i].sent.empty()) {
            found_at.push_back(*there[i]);
            found_items.push_back(&backlog[i]);
            found.push_back(backlog[i].record);
            found_sent.push_back(backlog[i].sent);
        }
    }
    const auto first_missing = store::RecordCount(path);
    if (!first_missing) return first_missing.error();
    // Each record's queue id first, so that whoever queued it finds it again in
    // the store file once the queue has dropped it.
    std::vector<std::uint64_t> missing_ids;
    missing_ids.reserve(missing_items.size());
    for (const QueuedRecord* item : missing_items) missing_ids.push_back(item->id);
    if (auto kept = store::AppendQueueIds(held, path, missing_ids, missing); !kept) return kept;
    if (auto kept = AppendWholeTexts(held, path, missing_items); !kept) return kept;
    if (file != StoreFile::Outbox) {
        return missing.empty() ? Status() : store::Append(held, path, missing);
    }
    if (!found.empty()) {
        const auto entries = store::LoadSent(store::SentPathFor(path));
        if (!entries) return entries.error();
        std::vector<std::size_t> lacking;
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (HasSentEntries(entries->entries, found_at[i], found[i])) continue;
            lacking.push_back(i);
        }
        std::vector<std::size_t> at;
        std::vector<packet> records;
        std::vector<std::vector<store::SegmentSent>> sent;
        for (const std::size_t i : lacking) {
            at.push_back(found_at[i]);
            records.push_back(found[i]);
            sent.push_back(found_sent[i]);
        }
        if (auto kept = store::AppendSentEntries(held, path, at, records, sent); !kept) return kept;
        // Only a refused write of their references leaves sent records there with a
        // SIM known: the notes come after the references, so they lack theirs too.
        NoteSims(held, path, found_at, found_items);
    }
    if (missing.empty()) return {};
    if (auto kept = store::AppendSent(held, path, missing, missing_sent); !kept) return kept;
    std::vector<std::size_t> missing_at(missing.size());
    for (std::size_t i = 0; i < missing.size(); ++i) missing_at[i] = *first_missing + i;
    NoteSims(held, path, missing_at, missing_items);
    return {};
}

}  // namespace

Worker::Worker(modem::Session& session, OutgoingQueue& queue, PoolShare& pool,
               const std::atomic<bool>& stop, const WorkerSwitches& switches, WorkerFiles files,
               WorkerEvents events, EventRecorder& recorder, WorkerDuties duties)
    : session_(session),
      queue_(queue),
      pool_(pool),
      queue_file_(pool.queue_file),
      stop_(stop),
      switches_(switches),
      files_(std::move(files)),
      inbox_(files_.inbox, [this] { return SimKey(session_.Identity()); }),
      recorder_(recorder),
      reception_(inbox_, recorder_),
      events_(std::move(events)),
      duties_(duties),
      configured_port_(session.PortNumber()),
      port_(session.PortNumber()) {
    MutexLock guard(pool_.modems_lock);
    pool_.ports.insert(configured_port_);
    if (!pool_.identities_path.empty())
        imei_ = profile::ReadString(pool_.identities_path, "IMEI", ComName(configured_port_), "");
}

Worker::~Worker() {
    Join();
}

void Worker::Start() {
    queue_.AddWakeSignal(wake_);
    thread_ = std::thread([this] { Run(); });
}

void Worker::Join() {
    if (!thread_.joinable()) return;
    thread_.join();
    queue_.RemoveWakeSignal(wake_);
}

void Worker::Run() {
    while (!stop_.load()) {
        if (same_modem_as_.load() != 0) {
            // Another worker drives this modem through another of its ports.
            Pause(kLongestSilencePause, false);
            continue;
        }
        TellMembership();
        {
            MutexLock guard(queue_.lock());
            if (resting_until_ && !Resting(Clock::now())) SetResting(std::nullopt);
        }
        ReadQueueFile();
        std::optional<ModemErrand> errand;
        bool due = false;
        {
            MutexLock guard(queue_.lock());
            errand = queue_.TakeErrand(OwnNames(), duties_.errands);
            due = MayTakeDue(Clock::now());
        }
        if (errand) {
            ErrandPass(*errand);
        } else if (due) {
            SendPass();
        } else {
            IdlePass();
        }
    }
    if (duties_.errands) DropErrands();
    if (!member_sim_.empty()) queue_.RemoveMember(member_sim_);
    SetResting(std::nullopt);
    WriteBacklogs();
    NoteFinished();
    session_.Close();
}

// The initialisation runs without the queue lock, so that queuing and the box
// views never wait for a modem that is slow to answer.
void Worker::SendPass() {
    if (!OpenModem()) {
        AfterModemWork();
        Pause(RecoveryPause(), false);
        return;
    }
    std::optional<QueuedRecord> item;
    {
        MutexLock guard(queue_.lock());
        item = queue_.TakeDue(Clock::now(), OwnSim());
    }
    // A record taken after the close was asked for is neither sent nor stored.
    if (!item || stop_.load()) return;
    if (!item->sim.empty() && item->sim != OwnSim()) StartAgainWhole(*item);
    if (RestsForSim(*item)) return;
    Deliver(std::move(*item));
    KeepDelivered();
    AfterModemWork();
}

// A user waits for an errand's answer, so it goes before the records that wait;
// the record being sent is finished first, as every pass does one thing whole.
void Worker::ErrandPass(const ModemErrand& errand) {
    if (!OpenModem()) {
        AfterModemWork();
        errand.failed(Error{ErrandNotRunText(session_.Status(), false)});
        return;
    }
    errand.run(session_);
    KeepDelivered();
    AfterModemWork();
}

void Worker::DropErrands() {
    std::deque<ModemErrand> left;
    {
        MutexLock guard(queue_.lock());
        left = queue_.CloseErrands();
    }
    for (ModemErrand& errand : left) errand.failed(Error{ErrandNotRunText({}, true)});
}

void Worker::ReadQueueFile() {
    if (!pool_.reading.try_lock()) return;
    if (pool_.restored) {
        TakeInNewRecords();
    } else {
        pool_.restored = Restore();
    }
    pool_.reading.unlock();
}

bool Worker::Restore() {
    auto reading = queue_file_.Load();
    Written(StoreFile::Queue, reading ? Status() : Status(reading.error()));
    if (!reading) return false;
    Report(reading->damage);
    std::vector<QueuedRecord> waiting;
    for (QueuedRecord& item : reading->records) {
        if (item.AllConfirmed()) {
            Hold(outbox_backlog_, std::move(item));
        } else {
            waiting.push_back(std::move(item));
        }
    }
    WriteBacklog(StoreFile::Outbox, outbox_backlog_);
    queue_.Add(std::move(waiting));
    // Read once for the pool, from the boxes' SIM notes; a box that cannot be read
    // costs the stickiness alone.
    if (pool_.senders > 1) {
        if (auto sticky = StickyRoutes::Load(files_.inbox, files_.outbox))
            queue_.SetStickyRoutes(std::move(*sticky));
    }
    return true;
}

void Worker::TakeInNewRecords() {
    bool noted = false;
    {
        MutexLock guard(queue_.lock());
        noted = queue_.TakeQueuedOnDiskNote();
    }
    if (!noted && !queue_file_.HasNew()) return;
    auto reading = queue_file_.ReadNew();
    if (!reading) {
        Written(StoreFile::Queue, reading.error());
        return;
    }
    Report(reading->damage);
    queue_.Add(std::move(reading->records));
}

void Worker::CompactQueueFile() {
    {
        MutexLock guard(queue_.lock());
        if (queue_.Count() > 0 || queue_.QueuedOnDisk()) return;
    }
    if (pool_.unrecorded.load() > 0) return;
    if (!pool_.reading.try_lock()) return;
    // Only after a Load: before it, the file holds records nobody took in yet.
    if (pool_.restored) Written(StoreFile::Queue, queue_file_.Compact({}));
    pool_.reading.unlock();
}

std::string Worker::OwnSim() const {
    // The settings' port stands in for a SIM without a key, whichever port a replug
    // moved its modem to.
    return WorkerSim(session_.Identity(), configured_port_);
}

void Worker::TellMembership() {
    const std::string sim = SimForQueue();
    if (sim.empty()) return;
    if (sim != member_sim_) {
        if (!member_sim_.empty()) queue_.RemoveMember(member_sim_);
        member_sim_ = sim;
        member_name_ = sim_gate_ ? sim_gate_->Name(session_.Identity()) : std::string();
    }
    PoolMember member;
    member.names = OwnNames();
    member.available = duties_.sends && session_.Status().state == modem::ModemState::Ready &&
                       silences_ == 0 && failures_in_a_row_ < kFailuresBeforeResting &&
                       !resting_until_;
    queue_.SetMember(sim, std::move(member));
}

std::vector<std::string> Worker::OwnNames() const {
    return ModemNames(SimForQueue(), session_.Identity().imei, {port_.load(), configured_port_},
                      member_name_);
}

void Worker::NoteSticky(const packet& record) {
    if (pool_.senders > 1)
        queue_.NoteSticky(record.number_text(), record.datetime_text(), OwnSim());
}

// Until its modem was ready once, a worker does not know its SIM: a record begun
// on any SIM may be its own, and the opening of the send pass tells.
std::string Worker::SimForQueue() const {
    return sim_known_ ? OwnSim() : std::string();
}

bool Worker::MayTakeDue(Clock::time_point now) const {
    if (!duties_.sends || Resting(now)) return false;
    return queue_.HasDue(now, SimForQueue());
}

// A rest for the SIM's limits ends as well when the user changes the limits.
bool Worker::Resting(Clock::time_point now) const {
    if (!resting_until_ || now >= *resting_until_) return false;
    return !rest_limit_changes_ || *rest_limit_changes_ == queue_.LimitChanges();
}

std::optional<Clock::time_point> Worker::NextDueForMe() const {
    if (!duties_.sends) return std::nullopt;
    auto next = queue_.NextDue(SimForQueue());
    if (next && Resting(Clock::now())) next = std::max(*next, *resting_until_);
    return next;
}

void Worker::SetResting(std::optional<Clock::time_point> until,
                        std::optional<std::uint64_t> limit_changes) {
    rest_limit_changes_ = limit_changes;
    if (until.has_value() != resting_until_.has_value()) {
        if (until) {
            ++pool_.resting;
        } else {
            --pool_.resting;
        }
    }
    resting_until_ = until;
}

// The SIM the text began on kept it waiting past kPinnedWait: this one sends it
// from its first message, under a reference of its own. The recipient has the
// beginning twice; a text never joined would be worse.
void Worker::StartAgainWhole(QueuedRecord& item) {
    item.confirmed = 0;
    item.segments = 0;
    item.reference.clear();
    item.sent.clear();
    item.outbox_mark.reset();
    item.sim.clear();
    item.again_whole = true;
    MutexLock guard(queue_.lock());
    queue_.UpdateSending(item);
}

bool Worker::RestsForSim(QueuedRecord& item) {
    // A text some of whose messages went goes on: its parts share a reference.
    if (!sim_gate_ || item.confirmed > 0) return false;
    // Noted before Config.ini is read: limits saved after this wake the record
    // even when it is put back with what they said before.
    std::uint64_t changes_seen = 0;
    {
        MutexLock guard(queue_.lock());
        changes_seen = queue_.LimitChanges();
    }
    const std::int64_t now = WallSeconds();
    const auto messages = modem::MessageCountOf(item.record, RoomFor(item), item.whole);
    const auto rest = sim_gate_->Hold(session_.Identity(), item.record.number_text(),
                                      static_cast<int>(messages), now);
    if (!rest) {
        SetResting(std::nullopt);
        return false;
    }
    const auto until = Clock::now() + std::chrono::seconds(rest->until - now);
    item.refusal = rest->text;
    if (pool_.senders == 1) {
        // Alone, only the record rests: another may pass a limit of recipients.
        item.due = until;
    } else {
        // In a pool the SIM rests, and a sender not resting takes the record at
        // once; the last one to rest keeps it until its own SIM may send again.
        SetResting(until, changes_seen);
        if (pool_.resting.load() >= pool_.senders) item.due = until;
    }
    {
        MutexLock guard(queue_.lock());
        queue_.PutBackHeldBySim(std::move(item), changes_seen);
    }
    if (events_.on_sim_rest) events_.on_sim_rest(*rest);
    return true;
}

void Worker::Deliver(QueuedRecord item) {
    switch (SendRemaining(item)) {
        case modem::SendResult::Sent: {
            failures_in_a_row_ = 0;
            const std::uint64_t id = item.id;
            if (sim_gate_) {
                // A count the disk refuses leaves the counters short by this record;
                // the record is sent all the same, and the outbox's write tells a full disk.
                IgnoreFailure(sim_gate_->Count(session_.Identity(), item.record.number_text(),
                                               static_cast<int>(item.segments), WallSeconds()));
            }
            NoteSticky(item.record);
            Record(StoreFile::Outbox, outbox_backlog_, std::move(item));
            Notify(id, SendOutcome::Sent);
            return;
        }
        case modem::SendResult::Unsendable: {
            const std::uint64_t id = item.id;
            NoteUnsendable(item);
            Record(StoreFile::Unsent, unsent_backlog_, std::move(item));
            Notify(id, SendOutcome::Unsendable);
            return;
        }
        case modem::SendResult::Failed:
            Retry(std::move(item));
            return;
    }
}

modem::SegmentRoom Worker::RoomFor(const QueuedRecord& item) const {
    // A text cut short goes on as it began; a new one is cut as the setting says now.
    if (item.confirmed > 0) return item.room;
    return switches_.full_ucs2_segments.load() ? modem::SegmentRoom::Full
                                               : modem::SegmentRoom::Designed;
}

modem::SendResult Worker::SendRemaining(QueuedRecord& item) {
    const auto reports = switches_.delivery_reports.load() ? modem::DeliveryReports::Requested
                                                           : modem::DeliveryReports::Off;
    modem::SendPosition position{item.reference, item.confirmed, item.segments, RoomFor(item)};
    const auto result = session_.Send(
        item.record, position, reports,
        [&](const modem::SendPosition& at, const modem::Confirmation& confirmation) {
            item.reference = at.reference;
            item.segments = at.segments;
            if (at.confirmed == 1) NoteSim(item);
            item.room = at.room;
            item.confirmed = at.confirmed;
            // Messages confirmed in a run that kept no references stay unknown.
            item.sent.resize(at.confirmed - 1);
            item.sent.push_back({confirmation.reference, FormatDateTime(NowLocal())});
            NoteConfirmed(item);
        },
        item.whole);
    item.reference = position.reference;
    item.segments = position.segments;
    return result;
}

// Only a text of several messages needs its SIM after a restart: a single one is
// done with its first confirmation.
void Worker::NoteSim(QueuedRecord& item) {
    item.sim = OwnSim();
    if (item.segments > 1) Written(StoreFile::Queue, queue_file_.AppendSim(item));
}

// A note that cannot be written leaves the send going on: the message is out, and
// only a kill before the disk takes a later note would send it again.
void Worker::NoteConfirmed(QueuedRecord& item) {
    if (item.AllConfirmed()) {
        const auto size = files::Size(files_.outbox);
        item.outbox_mark = size ? *size : 0;
    }
    const Status noted =
        queue_file_.AppendConfirmed(item, item.outbox_mark.value_or(0), unnoted_finished_);
    if (noted) unnoted_finished_.clear();
    Written(StoreFile::Queue, noted);
}

// Like the last confirmation of a sent record, the mark lets a restart after a
// kill between the append to unsent.db and the Finished entry find the record
// there instead of appending it a second time. A record a restart found
// unsendable again keeps the mark it had.
void Worker::NoteUnsendable(QueuedRecord& item) {
    if (item.outbox_mark) return;
    const auto size = files::Size(files_.unsent);
    item.outbox_mark = size ? *size : 0;
    NoteConfirmed(item);  // none confirmed: the note carries the mark alone
}

void Worker::NoteFinished() {
    if (unnoted_finished_.empty()) return;
    const Status noted = queue_file_.AppendFinished(unnoted_finished_);
    if (noted) unnoted_finished_.clear();
    Written(StoreFile::Queue, noted);
}

// The record is back in the queue before anyone hears of the failure, so that a
// view refreshed on the news finds it resting, never missing. The Retry entry only
// carries its pause over to the next run; the record stays queued in queue.db
// whatever happens to that write.
void Worker::Retry(QueuedRecord item) {
    RestAfterFailures();
    ++item.attempts;
    item.due = Clock::now() + RetryPause(item.attempts);
    item.refusal = session_.Refusal();
    item.failed_on = OwnSim();
    const SendFailure failure{item.id, item.refusal, item.attempts, item.due};
    {
        MutexLock guard(queue_.lock());
        // Refused the first time in a pool, it goes next through another modem.
        queue_.PutBack(item, pool_.senders > 1 && item.attempts == 1);
    }
    Notify(failure.id, SendOutcome::Failed);
    if (events_.on_send_failed) events_.on_send_failed(failure);
    Written(StoreFile::Queue, queue_file_.AppendRetry(item));
}

// In a pool, a modem whose sends keep failing leaves the records to the others for
// a while, a while that grows as it goes on failing; alone, it is the only way out.
void Worker::RestAfterFailures() {
    if (pool_.senders == 1 || ++failures_in_a_row_ < kFailuresBeforeResting) return;
    SetResting(Clock::now() + RetryPause(failures_in_a_row_ - kFailuresBeforeResting + 1));
}

void Worker::Report(const std::vector<QueueDamage>& damage) const {
    if (!events_.on_queue_damaged) return;
    for (const QueueDamage& part : damage) events_.on_queue_damaged(part);
}

void Worker::Record(StoreFile file, std::vector<QueuedRecord>& backlog, QueuedRecord item) {
    Hold(backlog, std::move(item));
    WriteBacklog(file, backlog);
}

void Worker::Hold(std::vector<QueuedRecord>& backlog, QueuedRecord item) {
    backlog.push_back(std::move(item));
    ++pool_.unrecorded;
}

void Worker::WriteBacklogs() {
    WriteBacklog(StoreFile::Outbox, outbox_backlog_);
    WriteBacklog(StoreFile::Unsent, unsent_backlog_);
}

// The records go to the store file first and are finished in queue.db after, so
// that a kill in between leaves them queued, never lost. A sent record's Finished
// entry waits for the next write to queue.db: until it is there, the outbox mark
// of its last Confirmed entry lets a restart find it in outbox.db. An unsendable
// record has no such mark and is finished at once.
void Worker::WriteBacklog(StoreFile file, std::vector<QueuedRecord>& backlog) {
    if (backlog.empty()) return;
    const std::string& path = file == StoreFile::Outbox ? files_.outbox : files_.unsent;
    const Status written = [&]() -> Status {
        // Their events first: a record recorded as sent is never without its event.
        Status told =
            file == StoreFile::Outbox ? recorder_.Sent(backlog) : recorder_.Unsendable(backlog);
        if (!told) return told;
        const auto held = store::BoxLock::Take(path);
        if (!held) return held.error();
        return AppendMissing(*held, file, path, backlog);
    }();
    Written(file, written);
    if (!written) return;
    for (const QueuedRecord& item : backlog) unnoted_finished_.push_back(item.id);
    pool_.unrecorded -= backlog.size();
    backlog.clear();
    if (file == StoreFile::Unsent) NoteFinished();
}

void Worker::Written(StoreFile file, const Status& status) {
    bool& failing = failing_[static_cast<std::size_t>(file)];
    if (status) {
        failing = false;
    } else if (!failing) {
        failing = true;
        if (events_.on_store_failed) events_.on_store_failed(file, status.error());
    }
}

void Worker::IdlePass() {
    WriteBacklogs();
    NoteFinished();
    CompactQueueFile();
    // Switched on: the next cycle is due now, whether the modem is listened to or polled.
    if (reception_switched_.exchange(false) && switches_.reception.load()) last_cycle_ = {};
    if (!switches_.reception.load() || !duties_.receives) {
        Pause(RecoveryPause(), true);
        return;
    }
    if (Listening()) {
        ListenPass();
        return;
    }
    if (OpenModem()) {
        ReceiveCycle();
        AfterModemWork();
        // A modem that took AT+CNMI during this initialisation is listened to from now on.
        if (Listening()) return;
        Pause(kAfterReceptionPause, true);
    } else {
        AfterModemWork();
    }
    Pause(RecoveryPause(), true);
}

void Worker::ReceiveCycle() {
    Received(session_.Receive(reception_));
    last_cycle_ = Clock::now();
}

// An empty listing's append proves the file writable, but its failure costs no
// message and is not worth a warning.
void Worker::Received(const modem::ReceptionReport& report) {
    if (report.listed && (report.saved || report.unsaved > 0)) {
        Written(StoreFile::Inbox, report.saved);
    }
    for (const store::ReceivedRecord& received : report.stored) NoteSticky(received.record);
    if (!report.stored.empty() && events_.on_received) events_.on_received(report.stored);
    if (!report.reports.empty() && events_.on_reports) events_.on_reports(report.reports);
}

// Messages the inbox refused stay on the modem, announced already: the design's
// polling tries them again every few seconds until the disk takes them.
bool Worker::Listening() const {
    return session_.ReceptionMode() == modem::Reception::Announced && silences_ == 0 &&
           !failing_[static_cast<std::size_t>(StoreFile::Inbox)] &&
           session_.Status().state == modem::ModemState::Ready && session_.PortOpen();
}

void Worker::ListenPass() {
    AwaitReason();
    if (stop_.load()) return;
    // Switched off while asleep: what was announced stays on the modem.
    if (!switches_.reception.load()) return;
    KeepDelivered();
    if (session_.Announced() || Clock::now() >= last_cycle_ + safety_poll_) {
        ReceiveCycle();
    } else {
        session_.ReadSignalWhenDue();
    }
    AfterModemWork();
}

// One wait that ends on whichever comes first: bytes from the modem (the port's
// wait), a record queued in this process (the queue sets its wake signal, which
// the port's wait also hears) or by another one (queue.db grew, looked at each
// kQueueFileLook), a retry falling due, the safety poll or the signal reading (the
// deadline), or the stop (the port's stop signal). The wake signal is cleared
// before the queue is looked at, so a record queued after the look still ends it.
void Worker::AwaitReason() {
    wake_.Clear();
    auto deadline = std::min(last_cycle_ + safety_poll_, session_.NextSignalReading());
    {
        MutexLock guard(queue_.lock());
        if (MayTakeDue(Clock::now()) || queue_.QueuedOnDisk() ||
            queue_.HasErrandFor(OwnNames(), duties_.errands))
            return;
        if (const auto next = NextDueForMe(); next && *next < deadline) deadline = *next;
    }
    while (!HeardAReason()) {
        const auto look = std::min(deadline, Clock::now() + kQueueFileLook);
        session_.Listen(wake_, look);
        if (look == deadline || queue_file_.HasNew()) return;
    }
}

bool Worker::HeardAReason() const {
    return stop_.load() || wake_.IsSet() || session_.Heard();
}

void Worker::ReceptionSwitched() {
    reception_switched_.store(true);
    queue_.Wake();
}

void Worker::SetPin(std::string pin) {
    MutexLock guard(pin_lock_);
    new_pin_ = std::move(pin);
}

bool Worker::OpenModem() {
    {
        MutexLock guard(pin_lock_);
        if (new_pin_) session_.GivePin(*std::exchange(new_pin_, std::nullopt));
    }
    // The probe opens the port of its own: never while the session holds it.
    if (!claimed_ && pool_.modems > 1 && !session_.PortOpen()) ClaimModem();
    if (same_modem_as_.load() != 0) return false;
    bool ready = session_.Open();
    if (!ready && session_.Status().state == modem::ModemState::PortMissing && FindMovedModem())
        ready = session_.Open();
    if (ready) {
        sim_known_ = true;
        claimed_ = true;  // the opening read the IMEI, if the modem tells one
        NoteImei(session_.Identity().imei);
    }
    TellModemState();
    return ready && same_modem_as_.load() == 0;
}

// A probe that finds no modem (the port is gone, the modem silent) leaves the claim
// to the first opening that reads the IMEI.
void Worker::ClaimModem() {
    StopSignal unstoppable;  // the probe's wait is bounded, and the close waits for it
    const auto imei = modem::Session::ProbeImei(session_.PortNumber(), kProbeBound, unstoppable);
    if (!imei) return;
    claimed_ = true;
    NoteImei(*imei);
}

void Worker::NoteImei(const std::string& imei) {
    if (imei.empty() || !Claim(imei) || imei == imei_) return;
    imei_ = imei;
    MutexLock guard(pool_.modems_lock);
    if (!pool_.identities_path.empty()) {
        // Lost, the next start finds a replugged modem only once it is seen again.
        IgnoreFailure(
            profile::WriteString(pool_.identities_path, "IMEI", ComName(configured_port_), imei));
    }
}

bool Worker::Claim(const std::string& imei) {
    std::uint16_t driver = 0;
    {
        MutexLock guard(pool_.modems_lock);
        const auto claim = pool_.driven.try_emplace(imei, port_.load()).first;
        if (claim->second == port_.load()) return true;
        driver = claim->second;
    }
    same_modem_as_.store(driver);
    session_.Close();
    if (!member_sim_.empty()) queue_.RemoveMember(member_sim_);
    return false;
}

bool Worker::FindMovedModem() {
    const auto now = Clock::now();
    if (imei_.empty() || now < next_search_) return false;
    next_search_ = now + kReplugLook;
    std::set<std::uint16_t> held;
    {
        MutexLock guard(pool_.modems_lock);
        held = pool_.ports;
    }
    Registry& registry = Registry::Machine();
    std::vector<std::string> candidates = settings::DiscoverModemPorts(registry);
    for (std::string& other : settings::DiscoverOtherUsbSerialPorts(registry))
        candidates.push_back(std::move(other));
    StopSignal unstoppable;  // each probe's wait is bounded; the stop is looked at between
    for (const std::string& candidate : candidates) {
        const std::uint16_t number = SelectedComNum(candidate);
        if (stop_.load()) return false;
        if (number == 0 || held.contains(number)) continue;
        if (modem::Session::ProbeImei(number, kProbeBound, unstoppable) != imei_) continue;
        BindTo(number);
        return true;
    }
    return false;
}

void Worker::BindTo(std::uint16_t port) {
    {
        MutexLock guard(pool_.modems_lock);
        pool_.ports.erase(port_.load());
        pool_.ports.insert(port);
        pool_.driven[imei_] = port;
    }
    session_.Bind(port);
    port_.store(port);
}

void Worker::KeepDelivered() {
    Received(session_.KeepDelivered(reception_));
}

void Worker::AfterModemWork() {
    if (stop_.load()) return;
    switch (session_.Settle()) {
        case modem::Session::Conduct::Silent:
            ++silences_;
            break;
        case modem::Session::Conduct::Answered:
        case modem::Session::Conduct::Restarted:  // opened afresh at the next pass
            silences_ = 0;
            break;
        case modem::Session::Conduct::Nothing:
            break;
    }
    TellModemState();
}

Clock::duration Worker::RecoveryPause() const {
    if (silences_ == 0) return kIdlePause;
    const int doublings = std::min(silences_ - 1, 8);
    return std::min<Clock::duration>(kIdlePause * (1 << doublings), kLongestSilencePause);
}

Worker::ModemSeen Worker::Seen() const {
    MutexLock guard(identity_lock_);
    return seen_;
}

void Worker::TellModemState() {
    modem::ModemStatus status = session_.Status();
    if (silences_ >= kSilencesBeforeTelling) status = {modem::ModemState::NotAnswering};
    {
        ModemSeen seen{session_.Identity(), status, session_.Info()};
        MutexLock guard(identity_lock_);
        seen_ = std::move(seen);
    }
    if (status.state != modem::ModemState::Unknown && status != told_status_) {
        told_status_ = status;
        if (events_.on_modem_state) events_.on_modem_state(status);
    }
    if (const modem::Reception mode = session_.ReceptionMode();
        session_.Status().state == modem::ModemState::Ready && mode != told_reception_) {
        told_reception_ = mode;
        if (events_.on_reception) events_.on_reception(mode);
    }
    if (const modem::ModemInfo info = session_.Info();
        info != told_info_ && info != modem::ModemInfo{}) {
        told_info_ = info;
        if (events_.on_modem_info) events_.on_modem_info(told_info_);
    }
}

void Worker::Pause(Clock::duration length, bool for_records) {
    const auto deadline = Clock::now() + length;
    MutexLock held(queue_.lock());
    // An idle pause also ends when the reception switch changes; a pause after a
    // failure never does, so that a switch cannot make a failing modem spin. An
    // errand ends either: each is run (or refused) once, so it cannot make one spin.
    const auto called = [&]() REQUIRES(queue_.lock()) {
        return queue_.HasErrandFor(OwnNames(), duties_.errands) ||
               (for_records &&
                (reception_switched_.load() || MayTakeDue(Clock::now()) || queue_.QueuedOnDisk()));
    };
    while (!stop_.load() && Clock::now() < deadline) {
        if (called()) return;
        auto until = deadline;
        if (for_records) {
            if (const auto next = NextDueForMe(); next && *next < until) until = *next;
        }
        queue_.SleepUntil(until,
                          [&]() REQUIRES(queue_.lock()) { return stop_.load() || called(); });
    }
}

void Worker::Notify(std::uint64_t id, SendOutcome outcome) const {
    {
        MutexLock guard(queue_.lock());
        queue_.EndSending(id, outcome != SendOutcome::Failed);
    }
    if (events_.on_send) events_.on_send(id, outcome);
}

}  // namespace velka::app
