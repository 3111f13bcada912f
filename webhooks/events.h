// The events other programs are told of, as JSON bodies kept in the journal:
//
//   {"id": "<16 hexadecimal digits>", "event": "sms:received", "time": "<UTC, ISO 8601>",
//    "message": {...}}
//
// sms:received (a message: its number, the time stamp of its centre, its whole
// text and, for one part of a long message, which part), sms:sent and sms:failed
// (a record of the queue: its id, number, text, messages and the modem's
// refusal), sms:delivered and sms:failed for a status report (the recipient, the
// message reference, its status), modem:state. README's "Webhooks" lists the
// fields. Building an event is pure; JournalRecorder appends them.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/event_recorder.h"
#include "store/reports_file.h"
#include "webhooks/event_journal.h"

namespace velka::webhooks {

inline constexpr char kReceived[] = "sms:received";
inline constexpr char kSent[] = "sms:sent";
inline constexpr char kDelivered[] = "sms:delivered";
inline constexpr char kFailed[] = "sms:failed";
inline constexpr char kModemState[] = "modem:state";

// An event's id as its body and the X-Velka-Event-Id header give it: 16
// lower-case hexadecimal digits.
std::string EventIdText(std::uint64_t id);

// What an event tells beyond its PDU, looked up when it is recorded (after the
// message is kept, before its delete on the modem). Each may be empty: the event
// then goes without that field.
struct EventContext {
    // The queue id of the sent record whose message a status report speaks of.
    std::function<std::optional<std::uint64_t>(const store::StatusReport& report)> reported_record;
    // The contact book's name of a number (Windows-1251 both); empty when none.
    std::function<std::string(const std::string& number)> name_of;
    // The id GET /api/v1/inbox gives the message (long ones joined) that a kept
    // PDU is, or is a part of.
    std::function<std::optional<std::size_t>(const std::string& pdu)> inbox_id;
};

// The event of a received PDU: a message, or a status report that says its
// message was delivered or has failed. None for a report of a message the
// network still tries to deliver. `time_ms`: now, milliseconds since 1970 UTC.
std::optional<Event> ReceivedEvent(const std::string& pdu, std::int64_t time_ms,
                                   const EventContext& context = {});
// The event of a record about to be recorded as sent, or as never sendable.
Event SentEvent(const app::QueuedRecord& record, std::int64_t time_ms);
Event UnsendableEvent(const app::QueuedRecord& record, std::int64_t time_ms);
// The modem's state as the window's status bar shows it: `state` a short word
// ("ready", "no_sim", ...), `detail` what the modem said.
Event ModemStateEvent(const std::string& state, const std::string& detail, std::int64_t time_ms);

// The recorder the worker calls: builds the events, appends them to the journal
// (flushed) and then calls `recorded`, which wakes the delivery. The worker's
// thread, or the caller's of a one-off reception. Begin opens the journal with
// `settled` saying what it may drop.
class JournalRecorder final : public app::EventRecorder {
  public:
    // `journal` must outlive it and be open. `context` is asked on the recording
    // thread, before the journal's lock.
    JournalRecorder(EventJournal& journal, std::function<bool(const StoredEvent&)> settled,
                    std::function<void()> recorded, EventContext context = {})
        : journal_(journal),
          settled_(std::move(settled)),
          recorded_(std::move(recorded)),
          context_(std::move(context)) {}

    void Begin() override;
    // What the opening in Begin found unreadable and kept aside, or why it failed.
    const Result<std::vector<JournalDamage>>& opening() const { return opening_; }

    Status Received(const std::vector<std::string>& pdus) override;
    Status Sent(const std::vector<app::QueuedRecord>& records) override;
    Status Unsendable(const std::vector<app::QueuedRecord>& records) override;

  private:
    Status Keep(const std::vector<Event>& events);

    EventJournal& journal_;
    const std::function<bool(const StoredEvent&)> settled_;
    const std::function<void()> recorded_;
    const EventContext context_;
    Result<std::vector<JournalDamage>> opening_{Error{"The event journal is not open."}};
};

}  // namespace velka::webhooks
