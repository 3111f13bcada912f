#include "modem/status_report.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <optional>

#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/program_dir.h"
#include "sms/smsbase.h"

namespace velka::modem {
namespace {

constexpr int kStatusReportType = 2;  // TP-MTI
constexpr std::size_t kTimeStampDigits = 14;
constexpr std::size_t kFieldCount = 7;

std::optional<int> Octet(std::string_view hex, std::size_t at) {
    if (at + 2 > hex.size()) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(hex.data() + at, hex.data() + at + 2, value, 16);
    if (error != std::errc() || end != hex.data() + at + 2) return std::nullopt;
    return value;
}

// A time stamp's seven octets from `at` as date-time text; empty for no real date.
std::string TimeStampText(std::string_view hex, std::size_t at) {
    if (at + kTimeStampDigits > hex.size()) return {};
    const std::string digits = SwapSemiOctets(hex.substr(at, 12));
    int parts[6] = {};
    for (std::size_t i = 0; i < 6; ++i) {
        const auto [end, error] =
            std::from_chars(digits.data() + 2 * i, digits.data() + 2 * i + 2, parts[i]);
        if (error != std::errc() || end != digits.data() + 2 * i + 2) return {};
    }
    const auto when =
        MakeDateTime(2000 + parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
    return when ? FormatDateTime(*when) : std::string();
}

std::optional<std::size_t> FirstOctetAt(std::string_view pdu) {
    const auto smsc = Octet(pdu, 0);
    if (!smsc) return std::nullopt;
    return 2 + 2 * static_cast<std::size_t>(*smsc);
}

}  // namespace

std::string ReportRecord(const StatusReport& report) {
    std::string line = report.received + '\t' + std::to_string(report.reference) + '\t' +
                       report.recipient + '\t' + report.centre_time + '\t' + report.discharged +
                       '\t' + std::to_string(report.status) + '\t' + report.pdu;
    line.resize(kReportRecordSize - 2, ' ');
    return line + "\r\n";
}

namespace {

// The fields of a record, read where they lie: tab-separated, the last one (the
// PDU, hexadecimal) ending at the blanks that pad the record. Nothing when the
// record has another number of fields. Loading 100,000 reports is mostly this.
std::optional<std::array<std::string_view, kFieldCount>> Fields(std::string_view record) {
    std::array<std::string_view, kFieldCount> fields;
    for (std::size_t i = 0; i + 1 < kFieldCount; ++i) {
        const std::size_t tab = record.find('\t');
        if (tab == std::string_view::npos) return std::nullopt;
        fields[i] = record.substr(0, tab);
        record.remove_prefix(tab + 1);
    }
    std::size_t end = 0;
    while (end < record.size() && record[end] != ' ' && record[end] != '\r' &&
           record[end] != '\n' && record[end] != '\t')
        ++end;
    if (end < record.size() && record[end] == '\t') return std::nullopt;
    fields.back() = record.substr(0, end);
    return fields;
}

int NumberOr(std::string_view text, int fallback) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : fallback;
}

}  // namespace

bool IsStatusReport(std::string_view pdu) {
    const auto first_at = FirstOctetAt(pdu);
    const auto first = first_at ? Octet(pdu, *first_at) : std::nullopt;
    return first && (*first & 0x03) == kStatusReportType;
}

StatusReport ParseStatusReport(std::string_view pdu, std::string received) {
    StatusReport report;
    report.received = std::move(received);
    report.pdu = std::string(pdu);
    const std::size_t at = FirstOctetAt(pdu).value_or(pdu.size()) + 2;  // past the first octet
    report.reference = Octet(pdu, at).value_or(-1);
    const auto digits = Octet(pdu, at + 2);
    if (!digits) return report;
    const std::size_t address_digits = (static_cast<std::size_t>(*digits) + 1) / 2 * 2;
    const std::size_t address_end = at + 6 + address_digits;
    if (address_end > pdu.size()) return report;
    report.recipient = TSMS::DecodeAddress(pdu.substr(at + 4, 2 + address_digits));
    report.centre_time = TimeStampText(pdu, address_end);
    report.discharged = TimeStampText(pdu, address_end + kTimeStampDigits);
    report.status = Octet(pdu, address_end + 2 * kTimeStampDigits).value_or(-1);
    return report;
}

Status AppendReports(const store::BoxLock&, const std::string& path,
                     const std::vector<StatusReport>& reports) {
    if (reports.empty()) return {};
    std::string records;
    for (const StatusReport& report : reports) records += ReportRecord(report);
    return files::AppendDurably(path, records, kReportRecordSize);
}

Result<std::vector<StatusReport>> LoadReports(const std::string& path) {
    const auto contents = files::ReadAll(path);
    if (!contents) {
        if (contents.error().system_code == ENOENT) return std::vector<StatusReport>{};
        return contents.error();
    }
    std::vector<StatusReport> reports;
    reports.reserve(contents->size() / kReportRecordSize);
    for (std::size_t at = 0; at + kReportRecordSize <= contents->size(); at += kReportRecordSize) {
        const auto fields = Fields(std::string_view(*contents).substr(at, kReportRecordSize));
        if (!fields) continue;
        const auto& f = *fields;
        reports.push_back({std::string(f[0]), NumberOr(f[1], -1), std::string(f[2]),
                           std::string(f[3]), std::string(f[4]), NumberOr(f[5], -1),
                           std::string(f[6])});
    }
    return reports;
}

}  // namespace velka::modem
