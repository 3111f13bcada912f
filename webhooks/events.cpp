#include "webhooks/events.h"

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "modem/inbox_sink.h"
#include "modem/status_report.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/fnv.h"
#include "store/content_file.h"

namespace velka::webhooks {
namespace {

using nlohmann::json;

// "2026-12-09T22:16:12.345Z": what every receiver parses, whatever its zone.
std::string IsoUtc(std::int64_t time_ms) {
    using namespace std::chrono;
    const sys_time<milliseconds> when{milliseconds(time_ms)};
    const auto day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss clock{when - day};
    char text[32];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
        static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
    return text;
}

Event Made(std::uint64_t id, const std::string& name, const json& details, std::int64_t time_ms) {
    json body = {{"id", EventIdText(id)}, {"event", name}, {"time", IsoUtc(time_ms)}};
    body.update(details);
    // A text is UTF-8 by construction; a byte that is not is replaced, never thrown on.
    return {id, time_ms, name, body.dump(-1, ' ', false, json::error_handler_t::replace)};
}

// The same fact gives the same id, however often it is reported.
std::uint64_t IdOf(const std::string& name, const std::string& key) {
    return Fnv1a(key, Fnv1a(name + ":"));
}

std::string Utf8(std::string_view cp1251) {
    return codepage::ToUtf8(cp1251);
}

json RecordJson(const app::QueuedRecord& item) {
    const std::u16string whole = store::WholeTextOf(item.record, nullptr);
    json message = {
        {"id", EventIdText(item.id)},
        {"number", Utf8(item.record.number_text())},
        {"text", codepage::Utf16ToUtf8(item.whole.empty() ? whole : item.whole)},
        {"messages", item.segments},
    };
    if (!item.sent.empty()) message["time"] = Utf8(item.sent.back().when);
    return message;
}

json ReportJson(const store::StatusReport& report) {
    return {{"number", Utf8(report.recipient)},
            {"reference", report.reference},
            {"status", report.status},
            {"time", Utf8(report.discharged)}};
}

json ReceivedJson(const std::string& pdu, const EventContext& context) {
    const store::ReceivedRecord kept = modem::MakeReceivedRecord(pdu);
    const store::RecordContent* content = kept.content ? &*kept.content : nullptr;
    const std::string number(kept.record.number_text());
    json message = {{"number", Utf8(number)},
                    {"time", Utf8(kept.record.datetime_text())},
                    {"text", codepage::Utf16ToUtf8(store::WholeTextOf(kept.record, content))}};
    if (context.name_of) {
        if (const std::string name = context.name_of(number); !name.empty())
            message["name"] = Utf8(name);
    }
    if (context.inbox_id) {
        if (const auto id = context.inbox_id(pdu)) message["inbox_id"] = *id;
    }
    if (kept.part)
        message["part"] = {{"reference", kept.part->reference},
                           {"number", kept.part->number},
                           {"total", kept.part->total}};
    return message;
}

}  // namespace

std::string EventIdText(std::uint64_t id) {
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(id));
    return digits;
}

std::optional<Event> ReceivedEvent(const std::string& pdu, std::int64_t time_ms,
                                   const EventContext& context) {
    if (!modem::IsStatusReport(pdu)) {
        return Made(IdOf(kReceived, pdu), kReceived, {{"message", ReceivedJson(pdu, context)}},
                    time_ms);
    }
    // Received now: a report names the last message sent before it came.
    const store::StatusReport report = modem::ParseStatusReport(pdu, FormatDateTime(NowLocal()));
    // TP-ST (3GPP TS 23.040 9.2.3.15): below 0x20 done, 0x20 to 0x3F still trying,
    // 0x40 and above given up by the network.
    const bool delivered = report.status >= 0 && report.status < 0x20;
    if (!delivered && report.status < 0x40) return std::nullopt;
    const char* name = delivered ? kDelivered : kFailed;
    json details = ReportJson(report);
    if (context.reported_record) {
        if (const auto record = context.reported_record(report))
            details["message_id"] = EventIdText(*record);
    }
    return Made(IdOf(name, pdu), name, {{"report", details}}, time_ms);
}

Event SentEvent(const app::QueuedRecord& record, std::int64_t time_ms) {
    return Made(IdOf(kSent, EventIdText(record.id)), kSent, {{"message", RecordJson(record)}},
                time_ms);
}

Event UnsendableEvent(const app::QueuedRecord& record, std::int64_t time_ms) {
    return Made(IdOf(kFailed, EventIdText(record.id)), kFailed,
                {{"message", RecordJson(record)}, {"reason", Utf8(record.refusal)}}, time_ms);
}

Event ModemStateEvent(const std::string& state, const std::string& detail, std::int64_t time_ms) {
    // Each change is its own fact: the moment is part of its identity.
    return Made(IdOf(kModemState, state + "\n" + detail + "\n" + std::to_string(time_ms)),
                kModemState, {{"modem", {{"state", state}, {"detail", detail}}}}, time_ms);
}

// The modem may be taken more than once by one process (velka-sms-cli's one-off
// commands); the journal is opened the first time.
void JournalRecorder::Begin() {
    if (!opening_) opening_ = journal_.Open(settled_);
}

Status JournalRecorder::Received(const std::vector<std::string>& pdus) {
    const std::int64_t now = NowMs();
    std::vector<Event> events;
    for (const std::string& pdu : pdus)
        if (auto event = ReceivedEvent(pdu, now, context_)) events.push_back(std::move(*event));
    return Keep(events);
}

Status JournalRecorder::Sent(const std::vector<app::QueuedRecord>& records) {
    const std::int64_t now = NowMs();
    std::vector<Event> events;
    events.reserve(records.size());
    for (const app::QueuedRecord& record : records) events.push_back(SentEvent(record, now));
    return Keep(events);
}

Status JournalRecorder::Unsendable(const std::vector<app::QueuedRecord>& records) {
    const std::int64_t now = NowMs();
    std::vector<Event> events;
    events.reserve(records.size());
    for (const app::QueuedRecord& record : records) events.push_back(UnsendableEvent(record, now));
    return Keep(events);
}

Status JournalRecorder::Keep(const std::vector<Event>& events) {
    if (events.empty()) return {};
    const std::uint64_t before = journal_.appended();
    if (Status kept = journal_.Append(events); !kept) return kept;
    if (journal_.appended() != before && recorded_) recorded_();
    return {};
}

}  // namespace velka::webhooks
