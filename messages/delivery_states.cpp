#include "messages/delivery_states.h"

#include <algorithm>
#include <bitset>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/number_key.h"
#include "store/box_lock.h"
#include "store/delivery_cache.h"
#include "store/queue_id_file.h"

namespace velka::messages {
namespace {

// TP-ST classes (3GPP TS 23.040 9.2.3.15).
constexpr int kStillTrying = 0x20;
constexpr int kPermanentError = 0x40;
constexpr int kTemporaryGivenUp = 0x60;
constexpr int kReserved = 0x80;

// The codes a network actually sends, in plain words, from the table of TP-ST values
// of 3GPP TS 23.040 9.2.3.15.
struct StatusWords {
    int status;
    const char* words;  // UTF-8
};
constexpr StatusWords kStatusWords[] = {
    {0x40, "ошибка в сети"},
    {0x41, "телефон получателя не может принять сообщение"},
    {0x42, "получатель отклонил сообщение"},
    {0x43, "номер недоступен"},
    {0x44, "услуга недоступна"},
    {0x45, "нет связи с сетью получателя"},
    {0x46, "истёк срок хранения"},
    {0x47, "удалено отправителем"},
    {0x48, "удалено центром сообщений"},
    {0x49, "сообщение не найдено в центре"},
    {0x60, "сеть перегружена, попытки прекращены"},
    {0x61, "телефон получателя занят, попытки прекращены"},
    {0x62, "получатель не отвечает, попытки прекращены"},
    {0x63, "услуга отклонена, попытки прекращены"},
    {0x64, "услуга недоступна, попытки прекращены"},
    {0x65, "ошибка в телефоне получателя, попытки прекращены"},
};

bool IsFinalFailure(int status) {
    return status >= kPermanentError;
}

bool IsDelivered(int status) {
    return status >= 0 && status < kStillTrying;
}

std::string MatchKey(int reference, std::string_view recipient) {
    return std::to_string(reference) + ':' + NumberKey(recipient);
}

// What became of one message: the report that names it last.
struct SegmentOutcome {
    int status = -1;  // -1: no report
    std::string when;
};

// An entry is believed when its record carries the checksum it names. One of a
// record beyond the box was appended after the view opened it: not a fault.
bool IsBelieved(const store::BoxFile& box, const store::SentEntry& entry) {
    if (entry.record >= box.size()) return true;
    return entry.segment != 0 && entry.segment <= entry.total &&
           box.ChecksumAt(entry.record) == entry.checksum;
}

// The entries that are believed, with the report each one drew.
class Matcher {
  public:
    Matcher(const store::BoxFile& box, std::span<const store::SentEntry> sent) : sent_(sent) {
        outcomes_.resize(sent.size());
        believed_.resize(sent.size(), false);
        for (std::size_t i = 0; i < sent.size(); ++i) {
            const store::SentEntry& entry = sent[i];
            believed_[i] = IsBelieved(box, entry);
            if (!believed_[i] || entry.record >= box.size() || entry.sent.reference < 0) continue;
            candidates_[MatchKey(entry.sent.reference, entry.recipient)].push_back(
                {DateTimeKey(entry.sent.when), i});
        }
        // Sent in the order of their times; equal times keep file order.
        for (auto& [key, list] : candidates_) {
            std::stable_sort(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a.sent < b.sent; });
        }
    }

    // The entry of the message `report` speaks of: the last one sent with its
    // reference and recipient no later than the report came.
    std::optional<std::size_t> EntryOf(const store::StatusReport& report) const {
        if (report.reference < 0 || report.status < 0) return std::nullopt;
        const auto found = candidates_.find(MatchKey(report.reference, report.recipient));
        if (found == candidates_.end()) return std::nullopt;
        const std::string came = DateTimeKey(report.received);
        const auto& list = found->second;
        const auto after = std::upper_bound(
            list.begin(), list.end(), came,
            [](const std::string& at, const auto& candidate) { return at < candidate.sent; });
        if (after == list.begin()) return std::nullopt;
        return std::prev(after)->entry;
    }
    // The entry `report` names now carries its outcome; that entry, if any.
    std::optional<std::size_t> Apply(const store::StatusReport& report) {
        const auto entry = EntryOf(report);
        if (!entry) return std::nullopt;
        SegmentOutcome& outcome = outcomes_[*entry];
        outcome.status = report.status;
        outcome.when = report.discharged.empty() ? report.centre_time : report.discharged;
        return entry;
    }

    // The entries from the `first` on that are not believed.
    std::size_t Unbelieved(std::size_t first = 0) const {
        return static_cast<std::size_t>(std::count(
            believed_.begin() + static_cast<std::ptrdiff_t>(first), believed_.end(), false));
    }

    std::vector<DeliveryState> States(std::size_t records) const {
        // By record: the outcome of each of its messages, by segment number.
        std::vector<std::vector<SegmentOutcome>> segments(records);
        for (std::size_t i = 0; i < sent_.size(); ++i) {
            if (believed_[i] && sent_[i].record < records) AddOutcome(segments[sent_[i].record], i);
        }
        std::vector<DeliveryState> states(records);
        for (std::size_t r = 0; r < records; ++r) states[r] = StateOf(segments[r]);
        return states;
    }

    // The states of the records of `records` the entries name, by record: for a few
    // entries of a large box.
    std::map<std::uint32_t, DeliveryState> StatesNamed(std::size_t records) const {
        std::map<std::uint32_t, std::vector<SegmentOutcome>> segments;
        for (std::size_t i = 0; i < sent_.size(); ++i) {
            if (believed_[i] && sent_[i].record < records) AddOutcome(segments[sent_[i].record], i);
        }
        std::map<std::uint32_t, DeliveryState> states;
        for (const auto& [record, of_record] : segments) states[record] = StateOf(of_record);
        return states;
    }

  private:
    struct Candidate {
        std::string sent;  // DateTimeKey of when it was sent
        std::size_t entry;
    };

    void AddOutcome(std::vector<SegmentOutcome>& of_record, std::size_t entry) const {
        if (of_record.size() < sent_[entry].total) of_record.resize(sent_[entry].total);
        // A message confirmed twice (its entries written again after a crash) keeps
        // whichever entry drew a report.
        if (outcomes_[entry].status >= 0) of_record[sent_[entry].segment - 1] = outcomes_[entry];
    }

    static DeliveryState StateOf(const std::vector<SegmentOutcome>& segments) {
        if (segments.empty()) return {};
        for (const SegmentOutcome& segment : segments) {
            if (IsFinalFailure(segment.status))
                return {DeliveryOutcome::NotDelivered, {}, segment.status};
        }
        DeliveryState delivered{DeliveryOutcome::Delivered, {}, -1};
        for (const SegmentOutcome& segment : segments) {
            if (!IsDelivered(segment.status)) return {};
            if (DateTimeKey(segment.when) > DateTimeKey(delivered.when))
                delivered.when = segment.when;
        }
        return delivered;
    }

    std::span<const store::SentEntry> sent_;
    std::vector<SegmentOutcome> outcomes_;  // by entry
    std::vector<bool> believed_;            // by entry
    std::unordered_map<std::string, std::vector<Candidate>> candidates_;
};

// Boxes of fewer records are matched on each load: below this, the matching costs
// less than reading and writing the cache.
constexpr std::size_t kCacheFrom = 1024;

// The files the states of `box` come from, as they are now; nothing where the
// system gives no file identity, so that a rewrite could not be told.
std::optional<store::DeliverySources> SourcesNow(const std::string& box_path,
                                                 const store::BoxFile& box) {
    store::DeliverySources sources;
    sources.box_identity = files::StampOf(box_path).identity;
    if (sources.box_identity == 0) return std::nullopt;
    sources.records = static_cast<std::uint32_t>(box.size());
    if (!box.empty()) {
        sources.first_checksum = box.ChecksumAt(0);
        sources.last_checksum = box.ChecksumAt(box.size() - 1);
    }
    const files::FileStamp sent = files::StampOf(store::SentPathFor(box_path));
    sources.sent_identity = sent.identity;
    sources.sent_size = sent.size;
    const files::FileStamp reports = files::StampOf(store::ReportsPathBeside(box_path));
    sources.reports_identity = reports.identity;
    sources.reports_size = reports.size;
    return sources;
}

// The states `cache` keeps, their times moved out of it.
DeliveryStates StatesOf(store::DeliveryCache cache) {
    static_assert(store::kLastOutcome == static_cast<std::uint8_t>(DeliveryOutcome::NotDelivered));
    DeliveryStates states;
    states.unbelieved = cache.unbelieved;
    states.by_record.resize(cache.states.size());
    for (std::size_t i = 0; i < cache.states.size(); ++i) {
        store::CachedState& cached = cache.states[i];
        DeliveryState& state = states.by_record[i];
        state.delivery = static_cast<DeliveryOutcome>(cached.outcome);
        if (state.delivery == DeliveryOutcome::NotDelivered) state.status = cached.status;
        state.when = std::move(cached.when);
    }
    return states;
}

// The DateTimeKey of the latest time one of `reports` came; "" for none.
std::string LatestReport(std::span<const store::StatusReport> reports, std::string latest = {}) {
    for (const store::StatusReport& report : reports)
        latest = std::max(latest, DateTimeKey(report.received));
    return latest;
}

store::CachedState CachedOf(const DeliveryState& state) {
    const bool failed = state.delivery == DeliveryOutcome::NotDelivered;
    return {static_cast<std::uint8_t>(state.delivery),
            static_cast<std::uint8_t>(failed ? state.status : 0), state.when};
}

store::DeliveryCache CacheOf(const store::DeliverySources& sources, const DeliveryStates& states,
                             std::string latest_report) {
    store::DeliveryCache cache{
        sources, static_cast<std::uint32_t>(states.unbelieved), std::move(latest_report), {}};
    cache.states.reserve(states.by_record.size());
    for (const DeliveryState& state : states.by_record) cache.states.push_back(CachedOf(state));
    return cache;
}

// Whether a file the cache knew as (`identity`, `size`) is now (`now_identity`,
// `now_size`) with only whole entries of `unit` bytes appended. A file that was
// missing then may have come since: all of it is appended. A size that was not
// whole then had a torn tail that the next append cut off.
bool OnlyAppended(std::uint64_t identity, std::uint64_t size, std::uint64_t now_identity,
                  std::uint64_t now_size, std::uint64_t unit) {
    const bool same_file = identity == now_identity || (identity == 0 && size == 0);
    return same_file && now_size >= size && size % unit == 0;
}

// Whether the files the cache was worked out from are a beginning of the files
// as they are now. The records between the first and the last are taken as they
// were: a store file is appended to, or replaced whole.
bool SpeaksOfABeginning(const store::DeliverySources& cached, const store::DeliverySources& now,
                        const store::BoxFile& box) {
    return cached.box_identity == now.box_identity && cached.records != 0 &&
           cached.records <= box.size() && box.ChecksumAt(0) == cached.first_checksum &&
           box.ChecksumAt(cached.records - 1) == cached.last_checksum &&
           OnlyAppended(cached.sent_identity, cached.sent_size, now.sent_identity, now.sent_size,
                        store::kSentEntrySize) &&
           OnlyAppended(cached.reports_identity, cached.reports_size, now.reports_identity,
                        now.reports_size, store::kReportRecordSize);
}

// What the files hold beyond what the cache covers, read under the box lock.
struct Appended {
    store::DeliveryCache cache;
    store::SentFileView sent;                  // the whole sent file, read where it lies
    std::vector<store::StatusReport> reports;  // the reports kept since the cache
};

std::optional<Appended> ReadAppended(const std::string& box_path, store::DeliveryCache cache) {
    auto sent = store::SentFileView::Open(store::SentPathFor(box_path));
    auto reports = store::LoadReportsFrom(store::ReportsPathBeside(box_path),
                                          cache.sources.reports_size / store::kReportRecordSize);
    // The full matching says why a file cannot be read.
    if (!sent || !reports) return std::nullopt;
    return Appended{std::move(cache), std::move(*sent), std::move(*reports)};
}

// Whether the reports the cache covers can name none of `entries`: each was
// sent after the latest of them came. Entries without a reference draw no report.
bool SentAfterEveryCachedReport(std::span<const store::SentEntry> entries,
                                const std::string& latest_report) {
    return std::all_of(entries.begin(), entries.end(), [&](const store::SentEntry& entry) {
        return entry.sent.reference < 0 || DateTimeKey(entry.sent.when) > latest_report;
    });
}

// Whether the entries appended since the cache leave what it says of the records
// it covers true, and only new reports can name a new entry.
bool AppendedEntriesFit(const Appended& appended, const store::SentReading& fresh) {
    const store::DeliverySources& cached = appended.cache.sources;
    // The matching that wrote the cache took an old entry of a record beyond those
    // it covered for one appended while it ran; such an entry counts now.
    if (appended.sent.RecordsNamed(cached.sent_size / store::kSentEntrySize) > cached.records)
        return false;
    // A new entry of an old record (a message confirmed again after a crash)
    // changes the state the cache keeps of it.
    const bool names_an_old_record =
        std::any_of(fresh.entries.begin(), fresh.entries.end(),
                    [&](const store::SentEntry& entry) { return entry.record < cached.records; });
    return !names_an_old_record &&
           SentAfterEveryCachedReport(fresh.entries, appended.cache.latest_report);
}

// Whether each of the old `records` has one believed entry among the first `end`
// of `sent`. The cache keeps the state of a record, not the outcome of each of its
// messages: a record of several that a new report names is matched afresh.
bool EachHasOneMessage(const store::BoxFile& box, const store::SentFileView& sent, std::size_t end,
                       const std::set<std::uint32_t>& records) {
    if (records.empty()) return true;
    std::map<std::uint32_t, std::size_t> believed;
    const auto named =
        sent.Picked(end, [&](int, std::uint32_t record) { return records.count(record) != 0; });
    for (const store::SentEntry& entry : named) {
        if (IsBelieved(box, entry)) ++believed[entry.record];
    }
    return std::all_of(records.begin(), records.end(),
                       [&](std::uint32_t record) { return believed[record] == 1; });
}

// What matching the appended gives on top of the cache.
struct GoneOn {
    std::map<std::uint32_t, DeliveryState> changed;  // records whose state is not the cached one
    std::size_t unbelieved = 0;                      // appended entries not believed
};

// The states of `box` from the cache of a beginning of its files and what was
// appended since, equal to what the full matching gives; nothing when that cannot
// be shown, and the full matching must do.
std::optional<GoneOn> GoOnFromCache(const store::BoxFile& box, const Appended& appended) {
    const store::DeliverySources& cached = appended.cache.sources;
    const std::size_t cached_entries = cached.sent_size / store::kSentEntrySize;
    const store::SentReading fresh = appended.sent.From(cached_entries);
    if (!AppendedEntriesFit(appended, fresh)) return std::nullopt;
    // The old entries a new report may name: those with its reference.
    std::bitset<256> references;
    for (const store::StatusReport& report : appended.reports) {
        if (report.reference >= 0 && report.reference < 256) references.set(report.reference);
    }
    std::vector<store::SentEntry> entries =
        appended.sent.Picked(cached_entries, [&](int reference, std::uint32_t) {
            return reference >= 0 && reference < 256 && references.test(reference);
        });
    const std::size_t old_picked = entries.size();
    entries.insert(entries.end(), fresh.entries.begin(), fresh.entries.end());
    Matcher matcher(box, entries);
    std::set<std::uint32_t> renamed;  // old records a new report names
    for (const store::StatusReport& report : appended.reports) {
        const auto entry = matcher.Apply(report);
        if (entry && entries[*entry].record < cached.records)
            renamed.insert(entries[*entry].record);
    }
    if (!EachHasOneMessage(box, appended.sent, cached_entries, renamed)) return std::nullopt;
    GoneOn gone_on{matcher.StatesNamed(box.size()), fresh.damaged + matcher.Unbelieved(old_picked)};
    // The other old records the picked entries name keep their cached states.
    std::erase_if(gone_on.changed, [&](const auto& named) {
        return named.first < cached.records && renamed.count(named.first) == 0;
    });
    return gone_on;
}

// The cache of the files as they are now: `appended.cache` with what `gone_on`
// changed. New records without an entry stay sent, as the cache's zero state says.
store::DeliveryCache CacheNow(Appended& appended, const GoneOn& gone_on,
                              const store::DeliverySources& now) {
    store::DeliveryCache cache = std::move(appended.cache);
    cache.states.resize(now.records);
    for (const auto& [record, state] : gone_on.changed) cache.states[record] = CachedOf(state);
    cache.unbelieved += static_cast<std::uint32_t>(gone_on.unbelieved);
    cache.latest_report = LatestReport(appended.reports, std::move(cache.latest_report));
    cache.sources = now;
    return cache;
}

}  // namespace

std::string FailureReason(int status) {
    for (const StatusWords& known : kStatusWords) {
        if (known.status == status) return codepage::FromUtf8(known.words);
    }
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(status & 0xFF));
    const char* kind = status >= kTemporaryGivenUp && status < kReserved
                           ? "временная ошибка, попытки прекращены"
                           : "постоянная ошибка";
    return codepage::FromUtf8(std::string(kind) + ", код " + code);
}

std::string DeliveryStateText(const DeliveryState& state) {
    switch (state.delivery) {
        case DeliveryOutcome::Sent:
            return codepage::FromUtf8("отправлено");
        case DeliveryOutcome::Delivered:
            return codepage::FromUtf8("доставлено") + (state.when.empty() ? "" : " " + state.when);
        case DeliveryOutcome::NotDelivered:
            return codepage::FromUtf8("не доставлено: ") + FailureReason(state.status);
    }
    return {};
}

std::vector<std::string> DeliveryStateTexts(const std::vector<DeliveryState>& states) {
    std::vector<std::string> texts;
    texts.reserve(states.size());
    for (const DeliveryState& state : states) texts.push_back(DeliveryStateText(state));
    return texts;
}

std::vector<DeliveryState> MatchReports(const store::BoxFile& box,
                                        std::span<const store::SentEntry> sent,
                                        std::span<const store::StatusReport> reports) {
    Matcher matcher(box, sent);
    for (const store::StatusReport& report : reports) matcher.Apply(report);
    return matcher.States(box.size());
}

std::optional<std::size_t> ReportedRecord(const store::BoxFile& box,
                                          std::span<const store::SentEntry> sent,
                                          const store::StatusReport& report) {
    const Matcher matcher(box, sent);
    const auto entry = matcher.EntryOf(report);
    if (!entry) return std::nullopt;
    return sent[*entry].record;
}

Result<std::optional<std::uint64_t>> ReportedQueueId(const std::string& box_path,
                                                     const store::StatusReport& report) {
    const std::optional<store::BoxLock> held = store::TakeForReading(box_path);
    auto box = store::BoxFile::Open(box_path);
    if (!box) return box.error();
    const auto sent = store::LoadSent(store::SentPathFor(box_path));
    if (!sent) return sent.error();
    const auto position = ReportedRecord(*box, sent->entries, report);
    if (!position) return std::optional<std::uint64_t>();
    const auto ids = store::LoadQueueIds(store::QueueIdPathFor(box_path));
    if (!ids) return ids.error();
    // The latest id whose entry names this record with its checksum.
    for (auto entry = ids->entries.rbegin(); entry != ids->entries.rend(); ++entry) {
        if (entry->record == *position && entry->checksum == box->ChecksumAt(*position))
            return std::optional<std::uint64_t>(entry->queue_id);
    }
    return std::optional<std::uint64_t>();
}

namespace {

// The states of `box` matched from the whole of its files; the cache written after.
Result<DeliveryStates> MatchAfresh(const std::string& box_path, const store::BoxFile& box) {
    std::optional<store::DeliverySources> sources;
    Result<store::SentReading> sent = Error{};
    Result<std::vector<store::StatusReport>> reports = Error{};
    {
        const std::optional<store::BoxLock> held = store::TakeForReading(box_path);
        if (box.size() >= kCacheFrom) sources = SourcesNow(box_path, box);
        sent = store::LoadSent(store::SentPathFor(box_path));
        reports = store::LoadReports(store::ReportsPathBeside(box_path));
    }
    if (!sent) return sent.error();
    if (!reports) return reports.error();
    Matcher matcher(box, sent->entries);
    for (const store::StatusReport& report : *reports) matcher.Apply(report);
    DeliveryStates states{matcher.States(box.size()), sent->damaged + matcher.Unbelieved()};
    // Only speed hangs on the cache: a write that fails costs the next load the matching.
    if (sources) {
        IgnoreFailure(store::SaveDeliveryCache(store::DeliveryCachePathFor(box_path),
                                               CacheOf(*sources, states, LatestReport(*reports))));
    }
    return states;
}

}  // namespace

Result<DeliveryStates> LoadDeliveryStates(const std::string& box_path, const store::BoxFile& box) {
    if (box.size() < kCacheFrom) return MatchAfresh(box_path, box);
    const std::string cache_path = store::DeliveryCachePathFor(box_path);
    std::optional<store::DeliverySources> sources;
    std::optional<Appended> appended;
    {
        const std::optional<store::BoxLock> held = store::TakeForReading(box_path);
        sources = SourcesNow(box_path, box);
        auto cache = sources ? store::LoadDeliveryCache(cache_path) : std::nullopt;
        if (cache && cache->sources == *sources) return StatesOf(std::move(*cache));
        if (cache && SpeaksOfABeginning(cache->sources, *sources, box))
            appended = ReadAppended(box_path, std::move(*cache));
    }
    const auto gone_on = appended ? GoOnFromCache(box, *appended) : std::nullopt;
    if (!gone_on) return MatchAfresh(box_path, box);
    store::DeliveryCache cache = CacheNow(*appended, *gone_on, *sources);
    IgnoreFailure(store::SaveDeliveryCache(cache_path, cache));
    return StatesOf(std::move(cache));
}

Result<StateTexts> LoadStateTexts(const std::string& box_path, const store::BoxFile& box) {
    auto states = LoadDeliveryStates(box_path, box);
    if (!states) return states.error();
    return StateTexts{DeliveryStateTexts(states->by_record), states->unbelieved};
}

Result<SentBox> OpenSentBox(const std::string& box_path) {
    auto opened = store::JoinedBox::Open(box_path);
    if (!opened) return opened.error();
    SentBox sent{std::move(*opened), 0, std::nullopt};
    auto texts = LoadStateTexts(box_path, sent.box.box());
    if (!texts) {
        sent.states_error = texts.error();
        return sent;
    }
    sent.unbelieved = texts->unbelieved;
    sent.box.SetStates(std::move(texts->by_record));
    return sent;
}

std::string UnbelievedStatesWarning(std::size_t unbelieved) {
    return codepage::FromUtf8(
        "Файл состояний доставки outbox.states повреждён или не совпадает со списком "
        "отправленных (записей: " +
        std::to_string(unbelieved) +
        "). Все отправленные сообщения показаны; у части из них состояние доставки "
        "неизвестно и показано как «отправлено».");
}

}  // namespace velka::messages
