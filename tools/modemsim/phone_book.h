// The SIM's phone book of one simulated modem: its entries, served by AT+CPBS and
// AT+CPBR (3GPP TS 27.007, 8.11 and 8.12), and its names written in each character
// set of AT+CSCS with the simulator's own code (never the client's).
//
// The SIM keeps a name (TS 31.102, annex A) in the GSM default alphabet when every
// character is in it or its extension table; else in the form 0x81 (count, half
// page, one octet a character) when the other characters lie on one half page of
// 128; else in the form 0x80 (UTF-16 big endian). Pure; the session that owns it
// calls it under its modem's lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/modemsim/pdu.h"

namespace velka::modemsim {

struct PhoneBookEntry {
    int index = 0;
    std::string number;  // digits, "+" first for an international one
    std::string name;    // UTF-8
};

// How a name is written in a character set.
enum class NameCharset { Ucs2, Gsm, Ira, Hex };

class PhoneBook {
  public:
    static constexpr int kCapacity = 250;
    static constexpr int kNumberLength = 40;
    static constexpr int kNameLength = 18;  // octets of the SIM's record

    // A few entries, so that a modem started for trying the client has some: a
    // Russian name, a Latin one with extension characters, a national number.
    PhoneBook();

    // Adds or replaces the entry at its index. False for an index outside
    // 1..kCapacity, an empty or too long number, or a name whose record is longer
    // than kNameLength octets.
    bool Put(const PhoneBookEntry& entry);
    void Clear() { entries_.clear(); }
    // By index.
    const std::vector<PhoneBookEntry>& entries() const { return entries_; }

  private:
    std::vector<PhoneBookEntry> entries_;
};

// The octets the SIM keeps for `name` (UTF-8).
Octets SimRecord(std::string_view name);

// The text field of a "+CPBR:" line for `name` in `charset`. UCS2 is hexadecimal
// UTF-16, or, with `records_in_ucs2`, the SIM's record for a name it keeps in a UCS2
// form, as some modems pass it through; GSM the alphabet's octets and IRA ASCII,
// "?" for a character they lack; HEX the SIM's record.
std::string NameField(std::string_view name, NameCharset charset, bool records_in_ucs2);

// The "+CPBR:" line of an entry: index, number, type 145 or 129, name.
std::string EntryLine(const PhoneBookEntry& entry, NameCharset charset, bool records_in_ucs2);

}  // namespace velka::modemsim
