// What the modem and its SIM are, as a pool of modems tells them apart: the IMEI
// of the modem, the ICCID and IMSI of its SIM (DeviceIdentity, modem/session.h).
// A port's name says nothing of what is plugged into it, and changes when the
// modem is plugged in again; these stay.
//
// The readers ask each command at most once per opening of the port, and a
// command the modem refuses costs one error and is not asked again for as long as
// the session stays bound to the port. A modem that answers none of them leaves
// the fields empty: the identity never fails an initialisation.
//
// Threads: the readers on the worker's thread, on an open port; the answer
// parsers are pure, for any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "modem/dialogue.h"

namespace velka::modem {

// The IMEI an answer to AT+CGSN or AT+GSN gives: a line of 15 digits, bare,
// quoted or after "+CGSN:" / "IMEI:", kept as the modem says it even when its check
// digit is wrong, since the network knows the modem by it all the same; 14 digits
// get their Luhn check digit. Empty for anything else, and for the all-zero IMEI
// some cheap modems answer, which would make all such modems one.
std::string ImeiFrom(const Answer& answer);

// The IMSI an answer to AT+CIMI gives: 6 to 15 digits, bare or after "+CIMI:".
std::string ImsiFrom(const Answer& answer);

// The ICCID an answer gives: a line of 18 to 20 digits beginning "89" (the
// telecommunication industry's prefix of ITU-T E.118), after any "<prefix>:" and
// without quotes; a padding "F" at its end is dropped. A value beginning "98" is
// the SIM file's nibble-swapped form, as some firmware passes it through, and is
// swapped back. Empty when no line holds one.
std::string IccidFrom(const Answer& answer);

// The ICCID of "+CRSM: 144,0,\"<hex>\"", the answer to reading the SIM file
// EF_ICCID (2FE2) with AT+CRSM: swapped-nibble BCD, padded with "F" (ETSI TS 102 221).
// Empty for a status other than 144 (0x90, normal ending) or an unreadable file.
std::string IccidFromSimFile(const Answer& answer);

// The commands that ask for the ICCID, in the order they are tried: the maker's
// own (chosen by the answer to AT+CGMI), then the SIM file read of 27.007's
// AT+CRSM, then AT+CCID, which many makers offer.
std::vector<std::string_view> IccidCommands(std::string_view manufacturer);

// The IMEI into context.identity (context.identity.imei), asked at an opening.
void ReadModemSerial(TComPort& port, AnswerReader& reader, ModemContext& context);
// The ICCID and IMSI into context.identity, asked once the SIM is ready: before,
// the SIM answers neither.
void ReadSimIdentity(TComPort& port, AnswerReader& reader, ModemContext& context);

}  // namespace velka::modem
