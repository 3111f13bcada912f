#include "modem/receive.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "modem/concatenation.h"
#include "modem/dialogue.h"
#include "platform/codepage.h"
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

bool IsHexLine(std::string_view text) {
    return !text.empty() && text.size() % 2 == 0 &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
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

// Reads "AT+CMGL" answer lines up to its final line. Nothing when the listing
// failed, went silent or was stopped.
std::optional<std::vector<std::string>> ReadListing(AnswerReader& reader) {
    std::vector<std::string> lines;
    while (auto line = reader.NextLine(Clock::now() + kListingIdleLimit, kListingIdleLimit)) {
        switch (ClassifyLine(*line)) {
            case LineKind::Ok:
                return lines;
            case LineKind::Error:
                return std::nullopt;
            case LineKind::Other:
                lines.push_back(std::move(*line));
                break;
        }
    }
    return std::nullopt;
}

[[nodiscard]] bool Prepare(TComPort& port, AnswerReader& reader, std::string_view storage) {
    for (const std::string& command :
         {"AT+CPMS=" + std::string(storage), std::string("AT+CMGF=0")}) {
        if (!WriteCommand(port, command) || !reader.AwaitFinalResult(DeadlineIn(kCommandTicks))) {
            return false;
        }
    }
    try {
        port.FlushInBuffer();
        port.FlushOutBuffer();
    } catch (const ESerialException&) {
        return false;
    }
    return true;
}

// Deletes each message, its answer awaited before the next; confirmed deletes
// leave `remembered`, refused ones join it.
std::size_t DeleteStored(TComPort& port, AnswerReader& reader,
                         const std::vector<ListedMessage>& messages, StoredNotDeleted& remembered) {
    std::size_t deleted = 0;
    for (const ListedMessage& message : messages) {
        if (reader.stopped()) break;
        const auto key = std::make_pair(message.index, message.pdu);
        if (WriteCommand(port, "AT+CMGD=" + message.index) &&
            reader.AwaitFinalResult(DeadlineIn(kCommandTicks))) {
            remembered.erase(key);
            ++deleted;
        } else {
            remembered.insert(key);
        }
    }
    return deleted;
}

}  // namespace

std::vector<ListedMessage> ParseListing(const std::vector<std::string>& lines) {
    std::vector<ListedMessage> messages;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!IsHeader(lines[i])) continue;
        const auto header = ReadHeader(lines[i]);
        for (std::size_t j = i + 1; j < lines.size() && !IsHeader(lines[j]); ++j) {
            const std::string candidate = codepage::Upper(TrimBlanks(lines[j]));
            if (!IsHexLine(candidate) || !header || !FitsHeader(candidate, *header)) continue;
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
                                const std::atomic<bool>& stop, StoredNotDeleted* remembered) {
    StoredNotDeleted forgotten;
    StoredNotDeleted& known = remembered ? *remembered : forgotten;
    ReceptionReport report;
    AnswerReader reader(port, stop);
    if (!Prepare(port, reader, storage) || !WriteCommand(port, "AT+CMGL=4")) return report;
    const auto lines = ReadListing(reader);
    if (!lines) return report;
    report.listed = true;
    const std::vector<ListedMessage> messages = ParseListing(*lines);
    std::vector<packet> records;
    std::vector<std::optional<store::PartFacts>> parts;
    records.reserve(messages.size());
    for (const ListedMessage& message : messages) {
        if (!known.count({message.index, message.pdu})) {
            records.push_back(MakeInboxRecord(message.pdu));
            parts.push_back(ConcatenationOf(message.pdu));
        }
    }
    {
        MutexLock guard(file_lock);
        report.saved = store::AppendReceived(inbox_path, records, parts);
    }
    if (!report.saved) {
        report.unsaved = records.size();
        return report;
    }
    report.stored = std::move(records);
    report.deleted = DeleteStored(port, reader, messages, known);
    return report;
}

}  // namespace velka::modem
