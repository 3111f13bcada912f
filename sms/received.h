// A received SMS-DELIVER as the inbox keeps it: its text as a Windows-1251 record
// can hold it, and what such a record cannot hold (the whole text, a binary
// payload, the facts that make it a flash message, a replacement or a
// message-waiting indication). Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sms/smsbase.h"

namespace velka {

// What the user data header says besides the concatenation.
struct HeaderFacts {
    std::optional<uint16_t> destination_port;  // application port addressing, 8 or 16 bits
    std::vector<WaitingIndication> waiting;    // special SMS message indications
};

// Reads a user data header given as octets, its length octet first. Elements cut
// short or beyond the header's length are passed over.
HeaderFacts ReadHeaderFacts(std::string_view header);

struct ReceivedMessage {
    // Windows-1251 with CR LF line breaks, "?" where the code page lacks a
    // character; for a binary message its description (DescribeData); a
    // message-waiting indication's words (DescribeWaiting) stand before the text.
    std::string text;
    std::u16string whole;  // the text whole, when `text` lost characters; else empty
    bool is_data = false;  // an 8-bit message: `data` holds its payload
    std::string data;
    uint8_t protocol_id = 0;
    uint8_t coding_scheme = 0;
    std::string header;  // the user data header's octets, its length octet first; or empty
    DataCoding coding;
    HeaderFacts header_facts;

    // Every indication the message carries, in its coding scheme and its header.
    std::vector<WaitingIndication> Indications() const;
    // True when the record's text alone would lose something of the message.
    bool NeedsMoreThanText() const;
};

// Reads a received PDU (hexadecimal text, SMSC part first) as MakeInboxRecord needs
// it. A PDU that cannot be read gives the codec's error text, as DecodeText does.
ReceivedMessage ReadReceived(std::string_view pdu);

// "[двоичное сообщение, 120 байт, порт 2948 (WAP Push)]": what a binary message is,
// in Windows-1251; the port and its name where known.
std::string DescribeData(std::size_t bytes, std::optional<uint16_t> port);

// "[Голосовая почта: новых сообщений 3]" or "[Голосовая почта: новых сообщений нет]",
// in Windows-1251.
std::string DescribeWaiting(const WaitingIndication& indication);

}  // namespace velka
