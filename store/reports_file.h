// reports.db, beside the store files: each status report the reception kept, one
// 512-byte record of text (format: docs/reports.md). The reports say what became
// of sent messages (messages/delivery_states.h matches them); reading what a PDU
// says is modem/status_report.h's. The functions block on the disk; any thread;
// the writer takes a BoxLock as proof that its caller holds the lock of the store
// files (store/box_lock.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"
#include "store/box_lock.h"

namespace velka::store {

// Each record is this many bytes: its fields, blanks, then CR LF.
inline constexpr std::size_t kReportRecordSize = 512;

struct StatusReport {
    std::string received;     // when the client stored it, date-time text
    int reference = -1;       // TP-MR of the sent message; -1 when unreadable
    std::string recipient;    // TP-RA
    std::string centre_time;  // TP-SCTS as date-time text; empty when no real date
    std::string discharged;   // TP-DT as date-time text; empty when no real date
    int status = -1;          // TP-ST: 0 delivered, 0x20.. still trying, 0x40.. failed
    std::string pdu;          // the whole PDU, SMSC part included
    bool operator==(const StatusReport&) const = default;
};

// The record of one report as reports.db holds it, kReportRecordSize bytes.
std::string ReportRecord(const StatusReport& report);

// Appends the reports durably (a torn record of an earlier crash is cut off first).
Status AppendReports(const BoxLock& held, const std::string& path,
                     const std::vector<StatusReport>& reports);

// The whole records of the file: where the next appended report will stand.
Result<std::uint64_t> ReportCount(const std::string& path);

// Every whole record of the file; a missing file holds none.
Result<std::vector<StatusReport>> LoadReports(const std::string& path);

// The whole records of the file from the `first` on (counted from 0), read where
// they lie: the reports kept since an earlier reading. A missing file holds none.
Result<std::vector<StatusReport>> LoadReportsFrom(const std::string& path, std::uint64_t first);

}  // namespace velka::store
