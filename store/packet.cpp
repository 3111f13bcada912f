#include "store/packet.h"

#include <algorithm>
#include <cstring>

#include "store/chksum.h"

namespace velka {

// The in-memory layout matches the file layout on every host we build for; the
// explicit encoding below still fixes the byte order.
static_assert(offsetof(packet, number) == 0);
static_assert(offsetof(packet, datetime) == 25);
static_assert(offsetof(packet, state) == 45);
static_assert(offsetof(packet, text_len) == 46);
static_assert(offsetof(packet, checksum) == 48);
static_assert(offsetof(packet, text) == 52);
static_assert(sizeof(packet) == kPacketSize);

namespace {

template <std::size_t N>
void FillField(char (&field)[N], const char* bytes, std::size_t length, std::size_t limit) {
    std::memset(field, 0, N);
    std::memcpy(field, bytes, std::min(length, limit));
}

template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return {field, ::strnlen(field, N)};
}

constexpr std::size_t kStateOffset = offsetof(packet, state);
constexpr std::size_t kTextLenOffset = offsetof(packet, text_len);
constexpr std::size_t kChecksumOffset = offsetof(packet, checksum);

void PutLittleEndian(char* out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t GetLittleEndian(const char* in, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    return value;
}

}  // namespace

packet::packet() : number{}, datetime{}, state(0), text_len(0), checksum(0), text{} {}

void packet::set_number(const char* bytes, std::size_t length) {
    FillField(number, bytes, length, kMaxNumberLength);
}

void packet::set_datetime(const char* bytes, std::size_t length) {
    FillField(datetime, bytes, length, kMaxDateTimeLength);
}

void packet::set_text(const char* bytes, std::size_t length) {
    const std::size_t kept = std::min(length, kMaxTextLength);
    FillField(text, bytes, kept, kMaxTextLength);
    text_len = static_cast<std::uint16_t>(kept);
    checksum = chksum(text, kept);
}

std::string_view packet::number_text() const {
    return FieldText(number);
}
std::string_view packet::datetime_text() const {
    return FieldText(datetime);
}
std::string_view packet::text_text() const {
    return FieldText(text);
}

packet MakePacket(std::string_view number, std::string_view datetime, std::string_view text) {
    packet record;
    record.state = kPacketStored;
    record.set_number(number);
    record.set_datetime(datetime);
    record.set_text(text);
    return record;
}

PacketBytes EncodePacket(const packet& record) {
    PacketBytes out{};
    std::memcpy(out.data() + offsetof(packet, number), record.number, kNumberField);
    std::memcpy(out.data() + offsetof(packet, datetime), record.datetime, kDateTimeField);
    out[kStateOffset] = static_cast<char>(record.state);
    PutLittleEndian(out.data() + kTextLenOffset, record.text_len, 2);
    PutLittleEndian(out.data() + kChecksumOffset, record.checksum, 4);
    std::memcpy(out.data() + offsetof(packet, text), record.text, kTextField);
    return out;
}

packet DecodePacket(const char* bytes) {
    packet record;
    std::memcpy(record.number, bytes + offsetof(packet, number), kNumberField);
    std::memcpy(record.datetime, bytes + offsetof(packet, datetime), kDateTimeField);
    record.state = static_cast<std::uint8_t>(bytes[kStateOffset]);
    record.text_len = static_cast<std::uint16_t>(GetLittleEndian(bytes + kTextLenOffset, 2));
    record.checksum = DecodeChecksum(bytes);
    std::memcpy(record.text, bytes + offsetof(packet, text), kTextField);
    return record;
}

std::uint32_t DecodeChecksum(const char* bytes) {
    return GetLittleEndian(bytes + kChecksumOffset, 4);
}

}  // namespace velka
