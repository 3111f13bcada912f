#include "modem/inbox_sink.h"

#include <algorithm>
#include <optional>
#include <set>

#include "modem/concatenation.h"
#include "modem/identity.h"
#include "modem/status_report.h"
#include "platform/crc32.h"
#include "platform/datetime.h"
#include "sms/received.h"
#include "sms/smsbase.h"
#include "store/box_lock.h"
#include "store/identity_file.h"
#include "store/parts_file.h"
#include "store/sim_note_file.h"
#include "store/store_file.h"

namespace velka::modem {
namespace {

// What is new of `pdus` (neither stored before nor met earlier in the same batch),
// split into inbox records and status reports, with the identity entries that go
// before them.
struct NewOnes {
    std::vector<std::size_t> pdu_of_record;
    std::vector<store::ReceivedRecord> received;
    std::vector<packet> records;
    std::vector<std::optional<store::PartFacts>> parts;
    std::vector<store::ContentEntry> contents;
    std::vector<std::size_t> pdu_of_report;
    std::vector<store::StatusReport> reports;
    std::vector<store::IdentityEntry> identities;
    std::uint64_t first_record = 0;  // where the first of `records` will stand
};

// Sorts out the new ones under the lock; `on_disk` marks the PDUs stored before.
Result<NewOnes> SortNew(const store::BoxLock& held, const std::string& inbox_path,
                        const std::vector<std::string>& pdus, std::vector<bool>& on_disk) {
    const std::string reports_path = store::ReportsPathBeside(inbox_path);
    auto stored =
        store::StoredIdentities::Load(held, {inbox_path, reports_path, store::kReportRecordSize});
    if (!stored) return stored.error();
    const auto first_record = store::RecordCount(inbox_path);
    if (!first_record) return first_record.error();
    const auto first_report = store::ReportCount(reports_path);
    if (!first_report) return first_report.error();
    NewOnes fresh;
    fresh.first_record = *first_record;
    std::set<std::uint64_t> in_batch;
    const std::string now = FormatDateTime(NowLocal());
    for (std::size_t i = 0; i < pdus.size(); ++i) {
        const std::uint64_t identity = ReceivedIdentity(pdus[i]);
        if (stored->Holds(identity) || !in_batch.insert(identity).second) {
            on_disk[i] = true;
            continue;
        }
        store::IdentityEntry entry{identity};
        if (IsStatusReport(pdus[i])) {
            fresh.reports.push_back(ParseStatusReport(pdus[i], now));
            fresh.pdu_of_report.push_back(i);
            entry.file = store::IdentifiedFile::Reports;
            entry.record = static_cast<std::uint32_t>(*first_report + fresh.reports.size() - 1);
            entry.record_crc = Crc32(store::ReportRecord(fresh.reports.back()));
        } else {
            store::ReceivedRecord kept = MakeReceivedRecord(pdus[i]);
            entry.record = static_cast<std::uint32_t>(*first_record + fresh.records.size());
            entry.record_crc = store::RecordCrc(kept.record);
            if (kept.content) {
                fresh.contents.push_back({entry.record, kept.record.checksum, *kept.content});
            }
            fresh.records.push_back(kept.record);
            fresh.parts.push_back(kept.part);
            fresh.received.push_back(std::move(kept));
            fresh.pdu_of_record.push_back(i);
        }
        fresh.identities.push_back(entry);
    }
    return fresh;
}

}  // namespace

ReceptionSink::Kept InboxSink::Keep(const std::vector<std::string>& pdus) {
    const std::string& inbox_path = inbox_path_;
    Kept saved;
    saved.on_disk.assign(pdus.size(), false);
    // An empty listing writes nothing, but its append creates the box and proves
    // the disk takes writes again after a refusal.
    auto held = store::BoxLock::Take(inbox_path);
    if (!held) {
        saved.status = held.error();
        return saved;
    }
    auto fresh = SortNew(*held, inbox_path, pdus, saved.on_disk);
    if (!fresh) {
        saved.status = fresh.error();
        std::fill(saved.on_disk.begin(), saved.on_disk.end(), false);
        return saved;
    }
    if (Status noted = store::AppendIdentities(*held, inbox_path, fresh->identities); !noted) {
        saved.status = std::move(noted);
        return saved;
    }
    // Before the records: a record whose content entry failed would be known by its
    // identity and deleted on the modem without what its bytes cannot hold. An entry
    // whose record then failed names a checksum no other record carries there.
    if (Status noted = store::AppendContent(*held, inbox_path, fresh->contents); !noted) {
        saved.status = std::move(noted);
        return saved;
    }
    Status inbox = store::AppendReceived(*held, inbox_path, fresh->records, fresh->parts);
    Status reports =
        store::AppendReports(*held, store::ReportsPathBeside(inbox_path), fresh->reports);
    if (inbox) {
        NoteSim(*held, fresh->first_record, fresh->records);
        for (const std::size_t i : fresh->pdu_of_record) saved.on_disk[i] = true;
        saved.stored = std::move(fresh->received);
    }
    if (reports) {
        for (const std::size_t i : fresh->pdu_of_report) saved.on_disk[i] = true;
        saved.reports = std::move(fresh->reports);
    }
    saved.status = !inbox ? std::move(inbox) : std::move(reports);
    return saved;
}

// After the records: a kill between the two leaves records without a note, never a
// note on a record that came to another SIM. A refusal is not the reception's
// failure, which would leave the kept messages on the modem to be kept again.
void InboxSink::NoteSim(const store::BoxLock& held, std::uint64_t first_record,
                        const std::vector<packet>& records) const {
    const std::string sim = sim_key_ ? sim_key_() : std::string();
    if (sim.empty() || records.empty()) return;
    std::vector<store::SimNote> notes;
    notes.reserve(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        // Beyond 2^32 records a position would wrap onto an earlier record.
        if (first_record + i > UINT32_MAX) break;
        notes.push_back({static_cast<std::uint32_t>(first_record + i), records[i].checksum, sim});
    }
    IgnoreFailure(store::AppendSimNotes(held, inbox_path_, notes));
}

store::ReceivedRecord MakeReceivedRecord(const std::string& pdu) {
    const ReceivedMessage message = ReadReceived(pdu);
    TSMS sms;
    sms.ParsePDU(pdu);
    std::string datetime;
    try {
        datetime = sms.DecodeTimeStamp();
    } catch (const EConvertError&) {
        // A time stamp that names no real date must not cost the message.
    }
    store::ReceivedRecord kept;
    kept.record = MakePacket(sms.DecodeSender(), datetime, message.text);
    kept.part = ConcatenationOf(pdu);
    if (message.NeedsMoreThanText()) {
        store::RecordContent content;
        content.protocol_id = message.protocol_id;
        content.coding_scheme = message.coding_scheme;
        content.header = message.header;
        if (message.is_data) {
            content.body = store::ContentBody::Data;
            content.data = message.data;
        } else if (!message.whole.empty()) {
            content.body = store::ContentBody::WholeText;
            content.text = message.whole;
        }
        kept.content = std::move(content);
    }
    return kept;
}

}  // namespace velka::modem
