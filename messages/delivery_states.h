// Delivery states of sent records: the status reports kept in reports.db matched to
// the messages whose references outbox.states keeps (store/sent_file.h), by message
// reference and recipient. A box of many records keeps the states in the delivery
// states cache (store/delivery_cache.h): while the files are as it says, a load
// reads them from there; after the files grew, it takes the cached states of the
// old records and matches only the entries and reports appended since, or
// everything afresh when it cannot show that the result would be the same
// (docs/delivery-cache-file.md, figures in docs/performance.md). Pure but for the
// loading, which blocks on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"
#include "store/joined_box.h"
#include "store/reports_file.h"
#include "store/sent_file.h"
#include "store/store_file.h"

namespace velka::messages {

enum class DeliveryOutcome {
    Sent,          // the modem took it; no final report (yet), or none was asked for
    Delivered,     // every message of the text reached the recipient
    NotDelivered,  // a message of it failed for good, or the centre gave up
};

struct DeliveryState {
    DeliveryOutcome delivery = DeliveryOutcome::Sent;
    std::string when;  // Delivered: the latest discharge time (else the centre's time stamp)
    int status = -1;   // NotDelivered: the TP-ST of the failed message
    bool operator==(const DeliveryState&) const = default;
};

// "отправлено", "доставлено 08.12.2026 14:40:01", "не доставлено: <reason>".
// Windows-1251.
std::string DeliveryStateText(const DeliveryState& state);

// DeliveryStateText of each state, in order.
std::vector<std::string> DeliveryStateTexts(const std::vector<DeliveryState>& states);

// A failing TP-ST in plain words (Windows-1251): the common codes by name, others by
// their class and number.
std::string FailureReason(int status);

// The state of each record of `box`, by position. An entry is believed only when
// its record carries the checksum it names. A report names the most recent message
// with its reference and recipient (numbers compared by NumberKey) that was sent
// no later than the report came: references come round after 256 messages. A
// later report of the same message overrides an earlier one (a "still trying"
// report followed by the final one). A report that matches nothing changes nothing.
std::vector<DeliveryState> MatchReports(const store::BoxFile& box,
                                        std::span<const store::SentEntry> sent,
                                        std::span<const store::StatusReport> reports);

// The position in `box` of the sent record whose message `report` speaks of,
// matched as MatchReports matches (`report.received` must be set); nothing when it
// matches none.
std::optional<std::size_t> ReportedRecord(const store::BoxFile& box,
                                          std::span<const store::SentEntry> sent,
                                          const store::StatusReport& report);

// The queue id of that record of the store file at `box_path`, from its queue-id
// file (store/queue_id_file.h); nothing when the report matches no record or the
// record has no believable entry there. Reads under the box lock; blocks on the
// disk; any thread not holding the box lock.
Result<std::optional<std::uint64_t>> ReportedQueueId(const std::string& box_path,
                                                     const store::StatusReport& report);

struct DeliveryStates {
    std::vector<DeliveryState> by_record;  // one per record of the box
    // Entries of outbox.states that could not be read, or whose record does not carry
    // the checksum they name: their records show as "отправлено". Zero when all is well.
    std::size_t unbelieved = 0;
};

// The states of the records of `box`, the store file at `box_path`: its sent file
// and reports.db beside it, read under the box lock (store/box_lock.h). A missing sent file or
// reports.db is no error: every record then shows as sent. A file that cannot be read is the error.
// A box of many records takes them from the delivery states cache while those files
// are as it says, goes on from it while they only grew, and writes it after
// either or after matching afresh (store/delivery_cache.h).
Result<DeliveryStates> LoadDeliveryStates(const std::string& box_path, const store::BoxFile& box);

// The states of the records of `box` in words (DeliveryStateTexts), as every view
// of a sent box shows them.
struct StateTexts {
    std::vector<std::string> by_record;
    std::size_t unbelieved = 0;  // as DeliveryStates::unbelieved
};
Result<StateTexts> LoadStateTexts(const std::string& box_path, const store::BoxFile& box);

// A sent box as the views show it (the window, velka-sms-cli outbox, their
// exports): its messages joined (store/joined_box.h), each with its delivery state
// in words. A states file that cannot be read costs the states alone: the
// messages show without them and `states_error` says why. The box that cannot be
// read is the error.
struct SentBox {
    store::JoinedBox box;
    std::size_t unbelieved = 0;  // as DeliveryStates::unbelieved
    std::optional<Error> states_error;
};
Result<SentBox> OpenSentBox(const std::string& box_path);

// The warning a front end shows when DeliveryStates::unbelieved is not zero.
// Windows-1251.
std::string UnbelievedStatesWarning(std::size_t unbelieved);

}  // namespace velka::messages
