// Status reports: SMS-STATUS-REPORT PDUs (TP-MTI 2 of 3GPP TS 23.040), which say
// what became of a sent message. They are never received messages: each is kept as
// one record of reports.db beside the store files (format: docs/reports.md) and
// then deleted on the modem. Pure functions, any thread; the file functions block
// on the disk, and the writer takes a BoxLock as proof that its caller holds the
// lock of the store files (store/box_lock.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "store/box_lock.h"

namespace velka::modem {

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

// The first TPDU octet (after the SMSC part) says SMS-STATUS-REPORT.
bool IsStatusReport(std::string_view pdu);

// The fields of a status report; those that cannot be read stay empty or -1, and
// the PDU is kept whole all the same.
StatusReport ParseStatusReport(std::string_view pdu, std::string received);

// The record of one report as reports.db holds it, kReportRecordSize bytes.
std::string ReportRecord(const StatusReport& report);

// Appends the reports durably (a torn record of an earlier crash is cut off first).
Status AppendReports(const store::BoxLock& held, const std::string& path,
                     const std::vector<StatusReport>& reports);

// Every whole record of the file; a missing file holds none.
Result<std::vector<StatusReport>> LoadReports(const std::string& path);

}  // namespace velka::modem
