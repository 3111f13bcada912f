// The identity of a message or status report the modem hands over: what the
// network gave it, the same however often and from whichever memory or by
// whichever route (a listing, a direct delivery) the modem hands it over again.
// Pure; any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace velka::modem {

// A 64-bit hash of the PDU's message type and of its TPDU after the first octet:
// for an SMS-DELIVER the sender, protocol identifier, coding scheme, the service
// centre's time stamp and the user data with its header (so the concatenation
// reference and part number); for a status report the message reference, the
// recipient, both time stamps and the status. The service-centre address and the
// first octet's other flags are left out: modems and networks vary them for one
// message. A PDU whose SMSC part cannot be read is hashed whole.
std::uint64_t ReceivedIdentity(std::string_view pdu);

}  // namespace velka::modem
