// Status reports: SMS-STATUS-REPORT PDUs (TP-MTI 2 of 3GPP TS 23.040), which say
// what became of a sent message. They are never received messages: each is kept as
// one record of reports.db beside the store files (store/reports_file.h) and then
// deleted on the modem. Pure functions, any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/reports_file.h"

namespace velka::modem {

// The first TPDU octet (after the SMSC part) says SMS-STATUS-REPORT.
bool IsStatusReport(std::string_view pdu);

// The fields of a status report; those that cannot be read stay empty or -1, and
// the PDU is kept whole all the same.
store::StatusReport ParseStatusReport(std::string_view pdu, std::string received);

}  // namespace velka::modem
