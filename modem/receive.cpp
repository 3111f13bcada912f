#include "modem/receive.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "modem/concatenation.h"
#include "modem/dialogue.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/text.h"
#include "serial/ser_except.h"
#include "sms/smsbase.h"
#include "store/parts_file.h"

namespace velka::modem {
namespace {

constexpr std::string_view kListingHeader = "+CMGL:";

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsHeader(std::string_view line) {
    return codepage::StartsWithIgnoreCase(TrimBlanks(line), kListingHeader);
}

struct Header {
    std::string index;
    std::optional<int> length;  // octets of the PDU without the SMSC part
};

std::optional<Header> ReadHeader(std::string_view line) {
    const std::string_view fields = TrimBlanks(TrimBlanks(line).substr(kListingHeader.size()));
    const std::size_t comma = fields.find(',');
    Header header{std::string(TrimBlanks(fields.substr(0, comma))), std::nullopt};
    if (!AllDigits(header.index)) return std::nullopt;
    const std::size_t last_comma = fields.rfind(',');
    if (comma != std::string_view::npos && last_comma != comma) {
        const std::string_view length = TrimBlanks(fields.substr(last_comma + 1));
        if (AllDigits(length) && length.size() < 6) header.length = std::stoi(std::string(length));
    }
    return header;
}

bool FitsHeader(const std::string& pdu, const Header& header) {
    if (!header.length) return true;
    TSMS sms;
    sms.ParsePDU(pdu);
    return sms.TPDULength == *header.length;
}

[[nodiscard]] bool Prepare(TComPort& port, AnswerReader& reader, std::string_view storage) {
    for (const std::string& command :
         {"AT+CPMS=" + std::string(storage), std::string("AT+CMGF=0")}) {
        if (RunCommand(port, reader, command).outcome != Outcome::Ok) return false;
    }
    // Late answers of earlier commands would otherwise pass into the listing; read
    // rather than flushed, so that a direct delivery among them is kept.
    reader.Idle(Clock::now());
    try {
        port.FlushOutBuffer();
    } catch (const ESerialException&) {
        return false;
    }
    return true;
}

// Deletes each message, its answer awaited before the next; confirmed deletes
// leave `remembered`, refused ones join it.
std::size_t DeleteStored(TComPort& port, AnswerReader& reader, std::string_view storage,
                         const std::vector<ListedMessage>& messages, StoredNotDeleted& remembered) {
    std::size_t deleted = 0;
    for (const ListedMessage& message : messages) {
        if (reader.stopped()) break;
        const auto key = std::make_pair(std::string(storage) + message.index, message.pdu);
        if (RunCommand(port, reader, "AT+CMGD=" + message.index).outcome == Outcome::Ok) {
            remembered.erase(key);
            ++deleted;
        } else {
            remembered.insert(key);
        }
    }
    return deleted;
}

// The memory names of the first list of an "AT+CPMS=?" answer:
// +CPMS: ("SM","ME"),("SM","ME"),("SM","ME").
std::vector<std::string> OfferedMemories(const Answer& answer) {
    std::vector<std::string> names;
    for (const std::string& line : answer.lines) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string_view rest = std::string_view(line).substr(colon + 1);
        std::string name;
        for (const char c : rest.substr(0, rest.find(')'))) {
            if (c == ',') {
                names.push_back(codepage::Upper(TrimBlanks(name)));
                name.clear();
            } else if (c != '"' && c != '(') {
                name += c;
            }
        }
        names.push_back(codepage::Upper(TrimBlanks(name)));
        break;
    }
    return names;
}

std::string Storage(std::string_view memory) {
    std::string quoted(1, '"');
    quoted.append(memory);
    quoted.push_back('"');
    return quoted;
}

void Join(ReceptionReport& total, ReceptionReport&& part) {
    total.listed = total.listed && part.listed;
    for (packet& record : part.stored) total.stored.push_back(std::move(record));
    for (StatusReport& report : part.reports) total.reports.push_back(std::move(report));
    total.deleted += part.deleted;
    total.unsaved += part.unsaved;
    if (total.saved && !part.saved) total.saved = part.saved;
}

bool StoredLately(const ModemContext& context, const std::string& pdu) {
    return std::find(context.recently_stored.begin(), context.recently_stored.end(), pdu) !=
           context.recently_stored.end();
}

void RememberStored(ModemContext& context, const std::vector<std::string>& pdus) {
    for (const std::string& pdu : pdus) {
        context.recently_stored.push_back(pdu);
        if (context.recently_stored.size() > kRecentlyStoredLimit) {
            context.recently_stored.pop_front();
        }
    }
}

// What a listing or a delivery holds, split into inbox records and status reports.
struct Sorted {
    std::vector<packet> records;
    std::vector<std::optional<store::PartFacts>> parts;  // one for each record
    std::vector<StatusReport> reports;
};

Sorted Sort(const std::vector<std::string>& pdus) {
    Sorted sorted;
    const std::string now = FormatDateTime(NowLocal());
    for (const std::string& pdu : pdus) {
        if (IsStatusReport(pdu)) {
            sorted.reports.push_back(ParseStatusReport(pdu, now));
        } else {
            sorted.records.push_back(MakeInboxRecord(pdu));
            sorted.parts.push_back(ConcatenationOf(pdu));
        }
    }
    return sorted;
}

// Both appends under the lock; the reports only after the inbox took its records.
std::pair<Status, Status> Save(const std::string& inbox_path, Mutex& file_lock,
                               const Sorted& sorted) {
    MutexLock guard(file_lock);
    Status inbox = store::AppendReceived(inbox_path, sorted.records, sorted.parts);
    Status reports = AppendReports(ReportsFileBeside(inbox_path), sorted.reports);
    return {std::move(inbox), std::move(reports)};
}

}  // namespace

std::vector<ListedMessage> ParseListing(const std::vector<std::string>& lines) {
    std::vector<ListedMessage> messages;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!IsHeader(lines[i])) continue;
        const auto header = ReadHeader(lines[i]);
        for (std::size_t j = i + 1; j < lines.size() && !IsHeader(lines[j]); ++j) {
            const std::string candidate = codepage::Upper(TrimBlanks(lines[j]));
            if (!IsPduLine(candidate) || !header || !FitsHeader(candidate, *header)) continue;
            messages.push_back({header->index, candidate});
            break;
        }
    }
    return messages;
}

packet MakeInboxRecord(const std::string& pdu) {
    TSMS sms;
    sms.ParsePDU(pdu);
    std::string datetime;
    try {
        datetime = sms.DecodeTimeStamp();
    } catch (const EConvertError&) {
        // A time stamp that names no real date must not cost the message.
    }
    std::string text;
    try {
        text = sms.DecodeText();
    } catch (const EConvertError&) {
        text = std::string(kDecodeErrorText);
    }
    return MakePacket(sms.DecodeSender(), datetime, text);
}

ReceptionReport ReceiveMessages(TComPort& port, std::string_view storage,
                                const std::string& inbox_path, Mutex& file_lock,
                                const std::atomic<bool>& stop, StoredNotDeleted* remembered,
                                ModemContext* context) {
    StoredNotDeleted forgotten;
    StoredNotDeleted& known = remembered ? *remembered : forgotten;
    ModemContext own;
    ModemContext& line = context ? *context : own;
    ReceptionReport report;
    AnswerReader reader(port, stop, &line);
    if (!Prepare(port, reader, storage)) return report;
    const Answer listing =
        RunCommand(port, reader, "AT+CMGL=4", kCommandTicks, line.listing_idle_limit);
    if (listing.outcome != Outcome::Ok) return report;
    report.listed = true;
    // Messages stored already (by an earlier cycle whose delete failed, or handed
    // over directly and not acknowledged) are deleted, not stored again.
    const auto stored_before = [&](const ListedMessage& message) {
        return known.count({std::string(storage) + message.index, message.pdu}) > 0 ||
               StoredLately(line, message.pdu);
    };
    const std::vector<ListedMessage> listed = ParseListing(listing.lines);
    std::vector<std::string> pdus;
    for (const ListedMessage& message : listed) {
        if (!stored_before(message)) pdus.push_back(message.pdu);
    }
    Sorted sorted = Sort(pdus);
    const auto [inbox_saved, reports_saved] = Save(inbox_path, file_lock, sorted);
    report.saved = !inbox_saved ? inbox_saved : reports_saved;
    if (inbox_saved) report.stored = std::move(sorted.records);
    if (reports_saved) report.reports = std::move(sorted.reports);
    // Only what is on the disk is deleted, with what an earlier cycle stored.
    std::vector<ListedMessage> deletable;
    for (const ListedMessage& message : listed) {
        const bool saved_now =
            IsStatusReport(message.pdu) ? bool(reports_saved) : bool(inbox_saved);
        if (stored_before(message) || saved_now) {
            deletable.push_back(message);
        } else {
            ++report.unsaved;
        }
    }
    report.deleted = DeleteStored(port, reader, storage, deletable, known);
    std::vector<std::string> saved;
    for (const std::string& pdu : pdus) {
        if (IsStatusReport(pdu) ? bool(reports_saved) : bool(inbox_saved)) saved.push_back(pdu);
    }
    RememberStored(line, saved);
    return report;
}

std::vector<std::string> ReceptionMemories(TComPort& port, ModemContext& context,
                                           const std::atomic<bool>& stop) {
    if (!context.memories) {
        AnswerReader reader(port, stop, &context);
        context.memories = OfferedMemories(RunCommand(port, reader, "AT+CPMS=?"));
    }
    const auto offers = [&](std::string_view name) {
        return std::find(context.memories->begin(), context.memories->end(), name) !=
               context.memories->end();
    };
    std::vector<std::string> memories{"SM"};
    if (offers("ME")) {
        memories.emplace_back("ME");
    } else if (offers("MT")) {
        memories.emplace_back("MT");
    }
    return memories;
}

ReceptionReport ReceiveAll(TComPort& port, const std::string& inbox_path, Mutex& file_lock,
                           const std::atomic<bool>& stop, StoredNotDeleted& remembered,
                           ModemContext& context) {
    ReceptionReport total;
    total.listed = true;
    for (const std::string& memory : ReceptionMemories(port, context, stop)) {
        Join(total, ReceiveMessages(port, Storage(memory), inbox_path, file_lock, stop, &remembered,
                                    &context));
        if (!total.listed || stop.load()) break;
    }
    return total;
}

ReceptionReport StoreDeliveries(TComPort& port, const std::string& inbox_path, Mutex& file_lock,
                                const std::atomic<bool>& stop, ModemContext& context) {
    ReceptionReport report;
    if (context.deliveries.empty()) return report;
    // Taken out first: the acknowledgements below may read further deliveries.
    std::vector<Delivery> taken;
    taken.swap(context.deliveries);
    std::vector<std::string> pdus;
    for (const Delivery& delivery : taken) {
        if (!StoredLately(context, delivery.pdu)) pdus.push_back(delivery.pdu);
    }
    Sorted sorted = Sort(pdus);
    const auto [inbox_saved, reports_saved] = Save(inbox_path, file_lock, sorted);
    report.listed = true;
    report.saved = !inbox_saved ? inbox_saved : reports_saved;
    if (!inbox_saved || !reports_saved) {
        // Whatever a file refused waits in the context; a part written twice is
        // better than a message lost.
        report.unsaved = taken.size();
        context.deliveries.insert(context.deliveries.begin(), taken.begin(), taken.end());
        return report;
    }
    report.stored = std::move(sorted.records);
    report.reports = std::move(sorted.reports);
    RememberStored(context, pdus);
    AnswerReader reader(port, stop, &context);
    for (std::size_t i = 0; i < taken.size(); ++i) {
        // After one acknowledgement went unanswered the rest would wait in vain;
        // what the modem keeps for want of them is known by recently_stored.
        const Outcome acknowledged = RunCommand(port, reader, "AT+CNMA").outcome;
        if (acknowledged == Outcome::Silent || acknowledged == Outcome::Stopped) break;
    }
    return report;
}

}  // namespace velka::modem
