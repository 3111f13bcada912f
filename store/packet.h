// store/: the message record `packet`, its keyed checksum, and the store files
// inbox.db and outbox.db that hold records one after another. Uses platform/ only.
//
// The record travels in memory (the outgoing queue) and on disk. On disk it is
// exactly 1076 bytes, multi-byte numbers little-endian whatever the host; use
// EncodePacket/DecodePacket to cross that boundary, never memcpy of the struct.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velka {

inline constexpr std::size_t kPacketSize = 1076;
inline constexpr std::size_t kNumberField = 25;    // at most 24 bytes and a zero
inline constexpr std::size_t kDateTimeField = 20;  // at most 19 bytes and a zero
inline constexpr std::size_t kTextField = 1024;    // a full text has no terminating zero
inline constexpr std::size_t kMaxNumberLength = kNumberField - 1;
inline constexpr std::size_t kMaxDateTimeLength = kDateTimeField - 1;
inline constexpr std::size_t kMaxTextLength = kTextField;

// The state byte of every record the program stores; a cleared record has 0.
inline constexpr std::uint8_t kPacketStored = 1;

struct packet {
    char number[kNumberField];      // recipient (outbox) or sender (inbox), Windows-1251
    char datetime[kDateTimeField];  // "dd.MM.yyyy H:mm:ss"
    std::uint8_t state;
    std::uint16_t text_len;  // bytes of text, 0..1024
    std::uint32_t checksum;  // chksum of the text_len bytes of text
    char text[kTextField];   // Windows-1251 with CR LF line breaks

    // A cleared record: every field zero.
    packet();

    // Each setter keeps at most its field's limit and zero-fills the rest of the
    // field; over-long input is cut without notice. set_text also sets text_len
    // and checksum.
    void set_number(const char* bytes, std::size_t length);
    void set_datetime(const char* bytes, std::size_t length);
    void set_text(const char* bytes, std::size_t length);
    void set_number(std::string_view s) { set_number(s.data(), s.size()); }
    void set_datetime(std::string_view s) { set_datetime(s.data(), s.size()); }
    void set_text(std::string_view s) { set_text(s.data(), s.size()); }

    // Each field as a reader shows it: up to its first zero byte, never beyond
    // the field, whatever text_len says.
    std::string_view number_text() const;
    std::string_view datetime_text() const;
    std::string_view text_text() const;
};

// A record filled as writers fill one: cleared, marked stored, then the fields.
packet MakePacket(std::string_view number, std::string_view datetime, std::string_view text);

using PacketBytes = std::array<char, kPacketSize>;
PacketBytes EncodePacket(const packet& record);
// REQUIRES: `bytes` holds at least kPacketSize bytes.
packet DecodePacket(const char* bytes);
// The checksum field alone, for a caller that needs nothing else of the record.
// REQUIRES: as DecodePacket.
std::uint32_t DecodeChecksum(const char* bytes);

}  // namespace velka
