#include "app/queue_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <unordered_map>

#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/lock_file.h"
#include "store/framed_file.h"
#include "store/sim_counters_file.h"

namespace velka::app {
namespace {

// ---- The entry layout (docs/queue-format.md) ----

// A Refusal entry follows its Retry entry.
enum class Kind : std::uint8_t {
    Queued = 1,
    Confirmed = 2,
    Retry = 3,
    Finished = 4,
    Referenced = 5,
    Refusal = 6,
    Layout = 7,
    // A Queued entry whose text lost characters to Windows-1251, with the text whole.
    QueuedWhole = 8,
};

constexpr std::size_t kQueuedSize = 8 + kPacketSize;
constexpr std::size_t kConfirmedSize = 8 + 2 + 2 + 1 + 8;
constexpr std::size_t kRetrySize = 8 + 4 + 8;
constexpr std::size_t kFinishedSize = 8;
constexpr std::size_t kReferencedSize = 8 + 2 + 2 + kDateTimeField;
constexpr std::uint64_t kNoReference = 0xFFFF;
// A modem's error answer ("+CMS ERROR: 500") is a few dozen bytes; a longer one is cut.
constexpr std::size_t kRefusalTextSize = 64;
constexpr std::size_t kRefusalSize = 8 + kRefusalTextSize;
constexpr std::size_t kLayoutSize = 8 + 1;
// A record's text holds at most 1024 characters; as UTF-16 each may take two units.
constexpr std::size_t kTextUnits = 2 * kMaxTextLength;
constexpr std::size_t kQueuedWholeSize = kQueuedSize + 2 + 2 * kTextUnits;

std::size_t PayloadSize(std::uint8_t kind) {
    switch (static_cast<Kind>(kind)) {
        case Kind::Queued:
            return kQueuedSize;
        case Kind::Confirmed:
            return kConfirmedSize;
        case Kind::Retry:
            return kRetrySize;
        case Kind::Finished:
            return kFinishedSize;
        case Kind::Referenced:
            return kReferencedSize;
        case Kind::Refusal:
            return kRefusalSize;
        case Kind::Layout:
            return kLayoutSize;
        case Kind::QueuedWhole:
            return kQueuedWholeSize;
    }
    return 0;
}

// Every kind's payload has a fixed length.
bool PayloadFits(std::uint8_t kind, std::string_view payload) {
    return payload.size() == PayloadSize(kind);
}

constexpr store::FramedFormat kFormat{{'V', 'Q'}, PayloadFits};

constexpr auto Put = store::AppendLittleEndian;
constexpr auto Get = store::ReadLittleEndian;

void PutEntry(std::string& out, Kind kind, std::string_view payload) {
    store::AppendFramedEntry(out, kFormat, static_cast<std::uint8_t>(kind), payload);
}

// One entry, so that a record never goes out without the text it was queued with:
// damage costs the whole entry, which is kept aside and told.
std::string QueuedEntry(const QueuedRecord& item) {
    std::string payload;
    Put(payload, item.id, 8);
    const PacketBytes bytes = EncodePacket(item.record);
    payload.append(bytes.data(), bytes.size());
    if (!item.whole.empty()) {
        const std::size_t units = std::min(item.whole.size(), kTextUnits);
        Put(payload, units, 2);
        for (std::size_t i = 0; i < kTextUnits; ++i) Put(payload, i < units ? item.whole[i] : 0, 2);
    }
    std::string entry;
    PutEntry(entry, item.whole.empty() ? Kind::Queued : Kind::QueuedWhole, payload);
    return entry;
}

std::u16string WholeTextOf(std::string_view payload) {
    const std::size_t units = std::min<std::size_t>(Get(payload, kQueuedSize, 2), kTextUnits);
    std::u16string text(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
        text[i] = static_cast<char16_t>(Get(payload, kQueuedSize + 2 + 2 * i, 2));
    return text;
}

std::uint8_t ReferenceByte(const std::string& reference) {
    return reference.empty() ? 0 : static_cast<std::uint8_t>(std::stoul(reference, nullptr, 16));
}

std::string ReferenceText(std::uint8_t reference) {
    if (reference == 0) return {};
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(reference));
    return digits;
}

std::string ConfirmedEntry(const QueuedRecord& item, std::uint64_t outbox_size) {
    std::string payload;
    Put(payload, item.id, 8);
    Put(payload, item.confirmed, 2);
    Put(payload, item.segments, 2);
    Put(payload, ReferenceByte(item.reference), 1);
    Put(payload, outbox_size, 8);
    std::string entry;
    PutEntry(entry, Kind::Confirmed, payload);
    return entry;
}

// How the record's text is cut, when not as designed: written with its Confirmed
// entries, so that a text cut short goes on in the same segments after a restart.
std::string LayoutEntry(const QueuedRecord& item) {
    if (item.room == modem::SegmentRoom::Designed) return {};
    std::string payload;
    Put(payload, item.id, 8);
    Put(payload, 1, 1);
    std::string entry;
    PutEntry(entry, Kind::Layout, payload);
    return entry;
}

// Message `index` (from 0) of the record: the modem's reference and when it came.
std::string ReferencedEntry(const QueuedRecord& item, std::size_t index) {
    const store::SegmentSent& sent = item.sent[index];
    std::string payload;
    Put(payload, item.id, 8);
    Put(payload, index, 2);
    Put(payload, sent.reference >= 0 ? static_cast<std::uint64_t>(sent.reference) : kNoReference,
        2);
    std::string when = sent.when.substr(0, kMaxDateTimeLength);
    when.resize(kDateTimeField, '\0');
    payload += when;
    std::string entry;
    PutEntry(entry, Kind::Referenced, payload);
    return entry;
}

void ApplyReferenced(QueuedRecord& item, std::string_view payload) {
    const std::size_t index = Get(payload, 8, 2);
    const std::uint64_t reference = Get(payload, 10, 2);
    const std::string_view when = payload.substr(12, kDateTimeField);
    if (item.sent.size() <= index) item.sent.resize(index + 1);
    item.sent[index] = {reference == kNoReference ? -1 : static_cast<int>(reference),
                        std::string(when.substr(0, when.find('\0')))};
}

// The next attempt's moment as wall-clock milliseconds, which mean the same to
// the next run; the steady clock's do not.
std::int64_t WallMilliseconds(Clock::time_point due) {
    const auto wall = std::chrono::system_clock::now() + (due - Clock::now());
    return std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
}

Clock::time_point SteadyDue(std::int64_t wall_milliseconds) {
    const auto wall =
        std::chrono::system_clock::time_point(std::chrono::milliseconds(wall_milliseconds));
    const auto left = wall - std::chrono::system_clock::now();
    return left <= Clock::duration::zero()
               ? Clock::time_point{}
               : Clock::now() + std::chrono::duration_cast<Clock::duration>(left);
}

// The Retry entry, and after it the modem's refusal when it gave one (a silence
// gives none). A Retry entry read without a Refusal after it clears the reason.
std::string RetryEntries(const QueuedRecord& item) {
    std::string payload;
    Put(payload, item.id, 8);
    Put(payload, static_cast<std::uint32_t>(item.attempts), 4);
    Put(payload, static_cast<std::uint64_t>(WallMilliseconds(item.due)), 8);
    std::string entries;
    PutEntry(entries, Kind::Retry, payload);
    if (item.refusal.empty()) return entries;
    std::string refusal;
    Put(refusal, item.id, 8);
    std::string text = item.refusal.substr(0, std::min(item.refusal.find('\0'), kRefusalTextSize));
    text.resize(kRefusalTextSize, '\0');
    PutEntry(entries, Kind::Refusal, refusal + text);
    return entries;
}

std::string FinishedEntry(std::uint64_t id) {
    std::string payload;
    Put(payload, id, 8);
    std::string entry;
    PutEntry(entry, Kind::Finished, payload);
    return entry;
}

// The whole state of a record that is not finished: what a rewritten file holds.
std::string LiveEntries(const QueuedRecord& item) {
    std::string entries = QueuedEntry(item);
    if (item.confirmed > 0 || item.outbox_mark)
        entries += LayoutEntry(item) + ConfirmedEntry(item, item.outbox_mark.value_or(0));
    for (std::size_t i = 0; i < item.sent.size(); ++i) entries += ReferencedEntry(item, i);
    if (item.attempts > 0) entries += RetryEntries(item);
    return entries;
}

// ---- Reading ----

struct Entry {
    Kind kind;
    std::string_view payload;
};

// Folds entries into the records they describe, in the order first queued.
class Fold {
  public:
    explicit Fold(bool with_progress) : with_progress_(with_progress) {}

    void Apply(const store::FramedEntry& framed) {
        const Entry entry{static_cast<Kind>(framed.kind), framed.payload};
        const std::uint64_t id = Get(entry.payload, 0, 8);
        if (entry.kind == Kind::Queued || entry.kind == Kind::QueuedWhole) {
            if (index_.contains(id)) return;
            index_[id] = records_.size();
            QueuedRecord item;
            item.id = id;
            item.record = DecodePacket(entry.payload.data() + 8);
            if (entry.kind == Kind::QueuedWhole) item.whole = WholeTextOf(entry.payload);
            records_.push_back(std::move(item));
            finished_.push_back(false);
            return;
        }
        if (!with_progress_) return;
        const auto found = index_.find(id);
        if (found == index_.end()) return;  // its record was in bytes kept aside
        QueuedRecord& item = records_[found->second];
        switch (entry.kind) {
            case Kind::Confirmed:
                item.confirmed = Get(entry.payload, 8, 2);
                item.segments = Get(entry.payload, 10, 2);
                item.reference =
                    ReferenceText(static_cast<std::uint8_t>(Get(entry.payload, 12, 1)));
                item.outbox_mark = Get(entry.payload, 13, 8);
                break;
            case Kind::Retry:
                item.attempts = static_cast<int>(Get(entry.payload, 8, 4));
                item.due = SteadyDue(static_cast<std::int64_t>(Get(entry.payload, 12, 8)));
                item.refusal.clear();
                break;
            case Kind::Refusal: {
                const std::string_view text = entry.payload.substr(8);
                item.refusal = std::string(text.substr(0, text.find('\0')));
                break;
            }
            case Kind::Finished:
                finished_[found->second] = true;
                break;
            case Kind::Referenced:
                ApplyReferenced(item, entry.payload);
                break;
            case Kind::Layout:
                item.room = Get(entry.payload, 8, 1) == 1 ? modem::SegmentRoom::Full
                                                          : modem::SegmentRoom::Designed;
                break;
            case Kind::Queued:
            case Kind::QueuedWhole:
                break;
        }
    }

    std::vector<QueuedRecord> Live() && {
        std::vector<QueuedRecord> live;
        for (std::size_t i = 0; i < records_.size(); ++i)
            if (!finished_[i]) live.push_back(std::move(records_[i]));
        return live;
    }

  private:
    const bool with_progress_;
    std::vector<QueuedRecord> records_;
    std::vector<bool> finished_;
    std::unordered_map<std::uint64_t, std::size_t> index_;
};

struct Parsed {
    std::vector<QueuedRecord> records;  // not finished, in queue order
    std::string unreadable;             // every byte no whole entry covers
};

Parsed Parse(std::string_view bytes, bool fold_progress) {
    Fold fold(fold_progress);
    Parsed parsed;
    parsed.unreadable = store::ReadFramedEntries(
        kFormat, bytes, [&fold](const store::FramedEntry& entry) { fold.Apply(entry); });
    parsed.records = std::move(fold).Live();
    return parsed;
}

Result<LockFile> LockQueue(const std::string& lock_path) {
    return LockFile::Acquire(lock_path);
}

// The file's bytes from `offset` on; what the worker has not read yet. A missing
// file reads as empty.
// ---- queue.sims (docs/queue-sims-file.md) ----

constexpr std::uint8_t kSimKind = 1;
constexpr std::uint8_t kRouteKind = 2;
// As the other side files keep a SIM's key (an ICCID has up to 22 digits).
constexpr std::size_t kSimKeySize = store::kSimKeySize;
constexpr std::size_t kSimPayloadSize = 8 + 1 + kSimKeySize;
constexpr std::size_t kRoutePayloadSize = 8 + 1 + 1 + kLongestRoute;

bool SimEntryFits(std::uint8_t kind, std::string_view payload) {
    if (kind == kSimKind)
        return payload.size() == kSimPayloadSize &&
               static_cast<std::uint8_t>(payload[8]) <= kSimKeySize;
    return kind == kRouteKind && payload.size() == kRoutePayloadSize &&
           static_cast<std::uint8_t>(payload[9]) <= kLongestRoute;
}

constexpr store::FramedFormat kSimsFormat{{'V', 'S'}, SimEntryFits};

// `text` cut to `size` bytes after its length byte, zero-padded.
void PutPadded(std::string& payload, std::string_view text, std::size_t size) {
    const std::size_t length = std::min(text.size(), size);
    Put(payload, length, 1);
    payload.append(text.substr(0, length));
    payload.append(size - length, '\0');
}

std::string SimsEntry(std::uint8_t kind, const std::string& payload) {
    std::string entry;
    store::AppendFramedEntry(entry, kSimsFormat, kind, payload);
    return entry;
}

std::string SimEntry(std::uint64_t id, std::string_view sim) {
    std::string payload;
    Put(payload, id, 8);
    PutPadded(payload, sim, kSimKeySize);
    return SimsEntry(kSimKind, payload);
}

std::string RouteEntry(std::uint64_t id, const Route& route) {
    std::string payload;
    Put(payload, id, 8);
    Put(payload, route.strict ? 1 : 0, 1);
    PutPadded(payload, route.via, kLongestRoute);
    return SimsEntry(kRouteKind, payload);
}

// What queue.sims says of the records, by id; the latest entry of each kind counts.
struct SimsReading {
    std::unordered_map<std::uint64_t, std::string> sims;
    std::unordered_map<std::uint64_t, Route> routes;
    std::string unreadable;
};

SimsReading ParseSims(std::string_view bytes) {
    SimsReading reading;
    reading.unreadable =
        store::ReadFramedEntries(kSimsFormat, bytes, [&](const store::FramedEntry& entry) {
            const std::uint64_t id = Get(entry.payload, 0, 8);
            if (entry.kind == kSimKind) {
                const auto length = static_cast<std::size_t>(Get(entry.payload, 8, 1));
                reading.sims[id] = std::string(entry.payload.substr(9, length));
            } else {
                const auto length = static_cast<std::size_t>(Get(entry.payload, 9, 1));
                reading.routes[id] = {std::string(entry.payload.substr(10, length)),
                                      Get(entry.payload, 8, 1) != 0};
            }
        });
    return reading;
}

// "queue.db" -> "queue.sims".
std::string SimsPathFor(const std::string& queue_path) {
    const std::size_t dot = queue_path.find_last_of('.');
    return (dot == std::string::npos ? queue_path : queue_path.substr(0, dot)) + ".sims";
}

Result<std::string> ReadFrom(const std::string& path, std::uint64_t offset) {
    if (!files::Exists(path)) return std::string();
    std::ifstream file(path, std::ios::binary);
    if (!file) return Error{"Cannot open \"" + path + "\"."};
    file.seekg(0, std::ios::end);
    const std::uint64_t size = static_cast<std::uint64_t>(file.tellg());
    std::string bytes(size > offset ? size - offset : 0, '\0');
    file.seekg(static_cast<std::streamoff>(std::min(offset, size)));
    if (!file.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
        return Error{"Cannot read \"" + path + "\"."};
    return bytes;
}

}  // namespace

std::uint64_t NewRecordId() {
    thread_local std::mt19937_64 random([] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }());
    std::uint64_t id = 0;
    while (id == 0) id = random();
    return id;
}

QueueFile::QueueFile(std::string path)
    : path_(std::move(path)), lock_path_(path_ + ".lock"), sims_path_(SimsPathFor(path_)) {}

Status QueueFile::AppendRecords(std::span<const QueuedRecord> records) const {
    std::string entries;
    std::string routes;
    for (const QueuedRecord& item : records) {
        entries += QueuedEntry(item);
        if (!item.route.via.empty()) routes += RouteEntry(item.id, item.route);
    }
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    // Routes first: a worker that reads a record finds its route beside it. A kill
    // between the two leaves routes of no record, which are passed over.
    if (!routes.empty()) {
        if (Status kept = files::AppendDurably(sims_path_, routes); !kept) return kept;
    }
    return files::AppendDurably(path_, entries);
}

Status QueueFile::AppendConfirmed(const QueuedRecord& record, std::uint64_t outbox_size,
                                  std::span<const std::uint64_t> finished) const {
    std::string entries;
    for (const std::uint64_t id : finished) entries += FinishedEntry(id);
    entries += LayoutEntry(record) + ConfirmedEntry(record, outbox_size);
    // The message just confirmed: its reference goes to disk in the same write.
    if (record.confirmed > 0 && record.confirmed <= record.sent.size())
        entries += ReferencedEntry(record, record.confirmed - 1);
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    return files::AppendDurably(path_, entries);
}

Status QueueFile::AppendSim(const QueuedRecord& record) const {
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    return files::AppendDurably(sims_path_, SimEntry(record.id, record.sim));
}

Result<std::optional<QueueDamage>> QueueFile::LoadSims(std::vector<QueuedRecord>& records) const {
    const auto contents = ReadFrom(sims_path_, 0);
    if (!contents) return contents.error();
    const SimsReading reading = ParseSims(*contents);
    // The routes of the records waiting and the SIMs of those cut short stay; the
    // file keeps them alone.
    std::string live;
    for (QueuedRecord& item : records) {
        if (const auto route = reading.routes.find(item.id); route != reading.routes.end()) {
            item.route = route->second;
            live += RouteEntry(item.id, item.route);
        }
        const auto found = reading.sims.find(item.id);
        if (item.confirmed == 0 || found == reading.sims.end()) continue;
        item.sim = found->second;
        live += SimEntry(item.id, item.sim);
    }
    // A refused rewrite leaves the entries of finished records, which name no
    // record any more and are passed over at the next reading.
    if (files::Exists(sims_path_) && *contents != live)
        IgnoreFailure(files::SaveDurably(sims_path_, live));
    return store::KeepAside(sims_path_, reading.unreadable);
}

void QueueFile::LoadRoutes(std::vector<QueuedRecord>& records) const {
    if (records.empty()) return;
    const auto size = files::Size(sims_path_);
    if (!size || *size == 0) return;
    // Damage is for Load to keep aside and tell; a record whose route cannot be
    // read here goes through any modem, as one whose route entry was lost would.
    const auto contents = ReadFrom(sims_path_, 0);
    if (!contents) return;
    const SimsReading reading = ParseSims(*contents);
    for (QueuedRecord& item : records) {
        if (const auto route = reading.routes.find(item.id); route != reading.routes.end())
            item.route = route->second;
    }
}

Status QueueFile::AppendRetry(const QueuedRecord& record) const {
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    return files::AppendDurably(path_, RetryEntries(record));
}

Status QueueFile::AppendFinished(std::span<const std::uint64_t> ids) const {
    std::string entries;
    for (const std::uint64_t id : ids) entries += FinishedEntry(id);
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    return files::AppendDurably(path_, entries);
}

Result<QueueFile::Reading> QueueFile::ReadFromOffset(bool fold_progress) {
    const auto contents = ReadFrom(path_, offset_);
    if (!contents) return contents.error();
    Parsed parsed = Parse(*contents, fold_progress);
    offset_ += contents->size();
    Reading reading;
    reading.records = std::move(parsed.records);
    const auto kept = store::KeepAside(path_, parsed.unreadable);
    if (!kept) return kept.error();
    if (*kept) reading.damage.push_back(**kept);
    return reading;
}

Result<std::size_t> QueueFile::CountWaiting() const {
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    const auto contents = ReadFrom(path_, 0);
    if (!contents) return contents.error();
    return Parse(*contents, true).records.size();
}

Result<QueueFile::Reading> QueueFile::Load() {
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    offset_ = 0;
    auto reading = ReadFromOffset(true);
    if (!reading) return reading;
    // A damaged entry of queue.sims costs its record the SIM it began on: the rest
    // of the text then goes through whichever modem takes it.
    if (const auto sims = LoadSims(reading->records); sims && *sims) {
        reading->damage.push_back(**sims);
    }
    // The rewrite only drops what is finished or unreadable: when the disk refuses
    // it, the records read are still good, and a later Compact tries again.
    std::string live;
    for (const QueuedRecord& item : reading->records) live += LiveEntries(item);
    if (files::Exists(path_) && files::SaveDurably(path_, live)) offset_ = live.size();
    return reading;
}

Result<QueueFile::Reading> QueueFile::ReadNew() {
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    auto reading = ReadFromOffset(false);
    if (reading) LoadRoutes(reading->records);
    return reading;
}

bool QueueFile::HasNew() const {
    const auto size = files::Size(path_);
    return size && *size != offset_;
}

Status QueueFile::Compact(std::span<const QueuedRecord> live) {
    // An empty file has nothing to drop; an idle worker asks on every pass, and a
    // rewrite would cost a flush each time.
    if (const auto size = files::Size(path_); live.empty() && size && *size == 0) return {};
    const auto lock = LockQueue(lock_path_);
    if (!lock) return lock.error();
    const auto size = files::Size(path_);
    if (!size || *size != offset_) return {};
    std::string entries;
    for (const QueuedRecord& item : live) entries += LiveEntries(item);
    if (const Status saved = files::SaveDurably(path_, entries); !saved) return saved.error();
    offset_ = entries.size();
    // Nothing left cut short: no SIM to remember. (Load keeps those of live records.)
    if (const auto sims = files::Size(sims_path_); live.empty() && sims && *sims > 0)
        return files::SaveDurably(sims_path_, "");
    return {};
}

}  // namespace velka::app
