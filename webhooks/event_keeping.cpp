#include "webhooks/event_keeping.h"

#include <algorithm>

#include "app/app_core.h"
#include "contacts/contact_book.h"
#include "contacts/number_names.h"
#include "messages/delivery_states.h"
#include "modem/identity.h"
#include "platform/program_dir.h"
#include "platform/registry.h"
#include "store/box_lock.h"
#include "store/identity_file.h"
#include "store/joined_box.h"

namespace velka::webhooks {
namespace {

// Where the inbox keeps the message `pdu` is, or is a part of: its identity's
// entry names the record, and the joined box the message that record belongs to.
std::optional<std::size_t> InboxIdOf(const std::string& inbox, const std::string& pdu) {
    const std::uint64_t identity = modem::ReceivedIdentity(pdu);
    const auto entries = [&inbox] {
        const std::optional<store::BoxLock> held = store::TakeForReading(inbox);
        return store::LoadIdentities(store::IdentitiesPathFor(inbox));
    }();
    if (!entries) return std::nullopt;
    const auto entry = std::find_if(
        entries->entries.rbegin(), entries->entries.rend(), [&](const store::IdentityEntry& one) {
            return one.identity == identity && one.file == store::IdentifiedFile::Inbox &&
                   !one.removed;
        });
    if (entry == entries->entries.rend()) return std::nullopt;
    // Opened under a lock of its own: a delete in between moves the record, which
    // its CRC then tells, and the id is left out rather than given wrong.
    const auto box = store::JoinedBox::Open(inbox);
    if (!box || entry->record >= box->box().size() ||
        store::RecordCrc(box->box().at(entry->record)) != entry->record_crc)
        return std::nullopt;
    for (std::size_t row = 0; row < box->size(); ++row) {
        const std::vector<std::size_t> records = box->at(row).records;
        if (std::find(records.begin(), records.end(), entry->record) != records.end())
            return row + 1;  // the API numbers the inbox from 1
    }
    return std::nullopt;
}

// The files beside the stores and the contact book, read on the recording thread
// (the worker's) before the journal's lock: the box lock for reading, around the
// files alone; the registry serialises its own calls.
EventContext FileContext(const std::string& program_directory) {
    const std::string outbox = InDirectory(program_directory, app::kOutboxFile);
    const std::string inbox = InDirectory(program_directory, app::kInboxFile);
    return {
        [outbox](const store::StatusReport& report) -> std::optional<std::uint64_t> {
            const auto id = messages::ReportedQueueId(outbox, report);
            return id ? *id : std::nullopt;
        },
        [](const std::string& number) {
            const contacts::NumberNames names(
                contacts::ContactBook(Registry::Machine()).FullListing().rows);
            return std::string(names.NameOf(number));
        },
        [inbox](const std::string& pdu) { return InboxIdOf(inbox, pdu); },
    };
}

}  // namespace

EventKeeping::EventKeeping(const std::string& program_directory, std::function<void()> recorded)
    : hooks_(ReadHooks(InDirectory(program_directory, app::kConfigFile),
                       InDirectory(program_directory, kSecretsFile))),
      journal_(InDirectory(program_directory, kEventsFile)),
      recorder_(
          journal_, [this](const StoredEvent& stored) { return EveryHookDone(hooks_, stored); },
          std::move(recorded), FileContext(program_directory)) {}

void EventKeeping::Begin() {
    if (hooks_.empty()) return;
    recorder_.Begin();
    begun_ = true;
}

Status EventKeeping::Received(const std::vector<std::string>& pdus) {
    if (hooks_.empty()) return {};
    return recorder_.Received(pdus);
}

Status EventKeeping::Sent(const std::vector<app::QueuedRecord>& records) {
    if (hooks_.empty()) return {};
    return recorder_.Sent(records);
}

Status EventKeeping::Unsendable(const std::vector<app::QueuedRecord>& records) {
    if (hooks_.empty()) return {};
    return recorder_.Unsendable(records);
}

}  // namespace velka::webhooks
