#include "store/reports_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <optional>
#include <string_view>

#include "platform/files.h"
#include "platform/mapped_file.h"
#include "store/store_file.h"

namespace velka::store {
namespace {

constexpr std::size_t kFieldCount = 7;

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

// Every whole record of `contents`, in order; one that is not a report is left out.
std::vector<StatusReport> ReportsIn(std::string_view contents) {
    std::vector<StatusReport> reports;
    reports.reserve(contents.size() / kReportRecordSize);
    for (std::size_t at = 0; at + kReportRecordSize <= contents.size(); at += kReportRecordSize) {
        const auto fields = Fields(contents.substr(at, kReportRecordSize));
        if (!fields) continue;
        const auto& f = *fields;
        reports.push_back({std::string(f[0]), NumberOr(f[1], -1), std::string(f[2]),
                           std::string(f[3]), std::string(f[4]), NumberOr(f[5], -1),
                           std::string(f[6])});
    }
    return reports;
}

}  // namespace

std::string ReportRecord(const StatusReport& report) {
    std::string line = report.received + '\t' + std::to_string(report.reference) + '\t' +
                       report.recipient + '\t' + report.centre_time + '\t' + report.discharged +
                       '\t' + std::to_string(report.status) + '\t' + report.pdu;
    line.resize(kReportRecordSize - 2, ' ');
    return line + "\r\n";
}

Result<std::uint64_t> ReportCount(const std::string& path) {
    return WholeRecords(path, kReportRecordSize);
}

Status AppendReports(const BoxLock&, const std::string& path,
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
    return ReportsIn(*contents);
}

Result<std::vector<StatusReport>> LoadReportsFrom(const std::string& path, std::uint64_t first) {
    const auto file = MappedFile::OpenOrEmpty(path);
    if (!file) return file.error();
    const std::string_view bytes = file->bytes();
    const std::uint64_t from = std::min<std::uint64_t>(bytes.size(), first * kReportRecordSize);
    return ReportsIn(bytes.substr(static_cast<std::size_t>(from)));
}

}  // namespace velka::store
