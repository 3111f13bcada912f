// How a message text goes out over the network: the signature in front, the coding
// the text calls for, and the pieces it is cut into, one per SMS. The send path
// builds its PDUs from this plan and the compose counter counts it, so the number
// the user sees is the number of messages the network carries. Pure; any thread.
//
// Texts are UTF-16, so that a text with characters Windows-1251 lacks (an emoji, a
// Greek or Chinese letter) goes out whole; a Windows-1251 text is converted first
// and goes out byte for byte as it always did. A character of the 7-bit alphabet's
// extension table ("€", "[", "{" ...) takes two septets (UnicodeToGsm), a character
// beyond the basic plane two UCS2 units (a surrogate pair), and a segment is never
// cut inside either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velka {

// Sent in front of every text. Two lines in Latin letters, so that the signature
// never forces UCS2 by itself.
inline constexpr std::string_view kSignature = "Velka SMS\r\nhttps://velka-sms.example\r\n";

inline constexpr std::size_t kGsm7Limit = 160;
inline constexpr std::size_t kUcs2Limit = 70;
// A segment gives 7 characters of its message to the concatenation header.
inline constexpr std::size_t kConcatenationHeaderCost = 7;
// What the header (6 octets) really takes of a UCS2 segment: 3 characters.
inline constexpr std::size_t kUcs2HeaderCharacters = 3;

// How much of a segment the header takes. Designed: 7 characters in either coding,
// so a UCS2 segment holds 63 characters, a 7-bit one 153. Full: what the header's
// 6 octets take, so a UCS2 segment holds 67; a 7-bit one still 153 (6 octets and
// the fill bit are 7 septets). A setting, off by default, so that the PDUs stay
// byte for byte as designed unless the user asks.
enum class SegmentRoom { Designed, Full };

// How a text goes out: its coding selector and its pieces, one per message. More
// than one piece means numbered segments sharing one message reference.
struct TextPlan {
    std::int32_t coding = 0;
    std::vector<std::u16string> pieces;
};

// The room of one message, in characters (UCS2) or septets (7-bit): the coding's
// limit, less the header's share (`room`) when the text goes in segments.
std::size_t MessageRoom(std::int32_t coding, bool segmented, SegmentRoom room);

// What a piece takes of a message's room in `coding`: its UCS2 units, or its
// septets (two for an extension-table character).
std::size_t RoomTaken(std::u16string_view piece, std::int32_t coding);

// Plans a body as it stands: 7-bit when the alphabet holds every character
// (DetectCoding), else UCS2; one message up to the coding's limit (septets or
// characters), else segments of the limit less the header's share (`room`), the
// last one taking the rest.
TextPlan PlanText(std::u16string_view body, SegmentRoom room = SegmentRoom::Designed);

// Plans what sending a text puts on the network: the signature, then the text.
TextPlan PlanOutgoingText(std::u16string_view text, SegmentRoom room = SegmentRoom::Designed);

}  // namespace velka
