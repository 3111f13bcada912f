#include "modem/receive.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "modem/dialogue.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "serial/ser_except.h"
#include "sms/smsbase.h"

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

// Deletes each message, its answer awaited before the next. One whose delete the
// modem refuses is listed again by a later cycle, which knows it by its identity.
std::size_t DeleteStored(TComPort& port, AnswerReader& reader,
                         const std::vector<ListedMessage>& messages) {
    std::size_t deleted = 0;
    for (const ListedMessage& message : messages) {
        if (reader.stopped()) break;
        if (RunCommand(port, reader, "AT+CMGD=" + message.index).outcome == Outcome::Ok) ++deleted;
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
    for (auto& record : part.stored) total.stored.push_back(std::move(record));
    for (store::StatusReport& report : part.reports) total.reports.push_back(std::move(report));
    total.deleted += part.deleted;
    total.unsaved += part.unsaved;
    if (total.saved && !part.saved) total.saved = part.saved;
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

ReceptionReport ReceiveMessages(TComPort& port, std::string_view storage, ReceptionSink& sink,
                                const std::atomic<bool>& stop, ModemContext& line) {
    ReceptionReport report;
    AnswerReader reader(port, stop, line);
    if (!Prepare(port, reader, storage)) return report;
    const Answer listing =
        RunCommand(port, reader, "AT+CMGL=4", kCommandTicks, line.listing_idle_limit);
    if (listing.outcome != Outcome::Ok) return report;
    report.listed = true;
    const std::vector<ListedMessage> listed = ParseListing(listing.lines);
    std::vector<std::string> pdus;
    pdus.reserve(listed.size());
    for (const ListedMessage& message : listed) pdus.push_back(message.pdu);
    ReceptionSink::Kept saved = sink.Keep(pdus);
    report.saved = std::move(saved.status);
    report.stored = std::move(saved.stored);
    report.reports = std::move(saved.reports);
    // Only what is on the disk is deleted: stored now, or by an earlier cycle.
    std::vector<ListedMessage> deletable;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (saved.on_disk[i]) {
            deletable.push_back(listed[i]);
        } else {
            ++report.unsaved;
        }
    }
    report.deleted = DeleteStored(port, reader, deletable);
    return report;
}

std::vector<std::string> ReceptionMemories(TComPort& port, ModemContext& context,
                                           const std::atomic<bool>& stop) {
    if (!context.memories) {
        AnswerReader reader(port, stop, context);
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
    // A memory an announcement named is where something waits, offered or not: "SR"
    // where status reports are kept apart, or a vendor's own.
    for (const std::string& named : context.announced_memories) {
        if (std::find(memories.begin(), memories.end(), named) == memories.end())
            memories.push_back(named);
    }
    return memories;
}

ReceptionReport ReceiveAll(TComPort& port, ReceptionSink& sink, const std::atomic<bool>& stop,
                           ModemContext& context) {
    ReceptionReport total;
    total.listed = true;
    for (const std::string& memory : ReceptionMemories(port, context, stop)) {
        Join(total, ReceiveMessages(port, Storage(memory), sink, stop, context));
        if (!total.listed || stop.load()) break;
    }
    return total;
}

ReceptionReport StoreDeliveries(TComPort& port, ReceptionSink& sink, const std::atomic<bool>& stop,
                                ModemContext& context) {
    ReceptionReport report;
    if (context.deliveries.empty()) return report;
    // Taken out first: the acknowledgements below may read further deliveries.
    std::vector<Delivery> taken;
    taken.swap(context.deliveries);
    std::vector<std::string> pdus;
    pdus.reserve(taken.size());
    for (const Delivery& delivery : taken) pdus.push_back(delivery.pdu);
    ReceptionSink::Kept saved = sink.Keep(pdus);
    report.listed = true;
    report.saved = std::move(saved.status);
    report.stored = std::move(saved.stored);
    report.reports = std::move(saved.reports);
    if (!report.saved) {
        // Everything waits in the context, unacknowledged; what did reach the disk
        // is known by its identity when it is taken again.
        report.unsaved = taken.size();
        context.deliveries.insert(context.deliveries.begin(), taken.begin(), taken.end());
        return report;
    }
    AnswerReader reader(port, stop, context);
    for (std::size_t i = 0; i < taken.size(); ++i) {
        // After one acknowledgement went unanswered the rest would wait in vain;
        // what the modem keeps for want of them comes again and is known by its
        // identity.
        const Outcome acknowledged = RunCommand(port, reader, "AT+CNMA").outcome;
        if (acknowledged == Outcome::Silent || acknowledged == Outcome::Stopped) break;
    }
    return report;
}

}  // namespace velka::modem
