// Smsbase: the SMS PDU codec. Builds SMS-SUBMIT PDUs for the modem and takes
// SMS-DELIVER PDUs from it apart (3GPP TS 23.040), with the GSM 7-bit default
// alphabet (3GPP TS 23.038) and UCS2 beneath.
//
// A PDU travels as upper-case hexadecimal text, two digits per octet, the SMSC
// information included: the form in which it is written to and read from the modem.
// Texts are std::string of Windows-1251 bytes; UTF-16 is std::u16string.
//
// Everything here is pure or works on one TSMS instance; an instance belongs to the
// thread that made it. Nothing blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velka {

// A field that should hold hexadecimal or decimal digits holds something else, or a
// time stamp names a date or time that does not exist.
class EConvertError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The coding selector of TSMS::Coding.
inline constexpr int32_t kCodingGsm7 = 0;
inline constexpr int32_t kCodingUcs2 = 2;
inline constexpr int32_t kCodingAuto = -1;

// What one SMS can carry (3GPP TS 23.040): a destination address of at most 20
// digits, and user data of at most 140 octets, which 7-bit text fills with 160
// septets. A header counts towards the user data.
inline constexpr size_t kMaxAddressDigits = 20;
inline constexpr int32_t kMaxUserDataOctets = 140;
inline constexpr int32_t kMaxUserDataSeptets = 160;

// Why a number cannot be a destination address.
enum class AddressProblem {
    None,
    NotDigits,  // empty, or anything but digits after an optional "+"
    TooLong,    // more than kMaxAddressDigits digits
};

// Why TSMS::EncodeSubmit refuses its inputs.
enum class SubmitProblem {
    None,
    BadNumber,        // see AddressProblem
    BadHeader,        // UDH is not whole octets of hexadecimal digits led by its length
    BadReference,     // MessageReference is neither empty nor two hexadecimal digits
    UserDataTooLong,  // the text and header need more than one SMS holds
};

// The text that DecodeText gives when the user data cannot be read ("Ошибка").
inline constexpr std::string_view kDecodeErrorText = "\xCE\xF8\xE8\xE1\xEA\xE0";

// ---- Alphabet and text conversions -------------------------------------------------

// The septets of a text in the GSM 7-bit default alphabet: one per character, two
// (the escape and the code) for one of the extension table ("€", "[", "{" ...). A
// character the alphabet lacks gives "?": DetectCoding sends such a text as UCS2.
std::string UnicodeToGsm(std::u16string_view text);
// How many septets UnicodeToGsm makes of a text, or of one character.
size_t GsmSeptetCount(std::u16string_view text);
size_t GsmSeptetsOf(char16_t character);
// True when the default alphabet or its extension table holds the character.
bool InGsmAlphabet(char16_t character);

// Septets to Windows-1251 bytes: each code's character (TS 23.038), "?" for one
// the code page lacks (the Greek capitals, most accented letters, "£"). An escape
// followed by a code that is not an extension code gives the main table's
// character of that code; an escape as the last septet gives nothing. `lost` tells
// whether any character became "?" that way.
std::string GsmToAnsi(std::string_view septets);
std::string GsmToAnsi(std::string_view septets, bool& lost);

// Septets to the characters they stand for, as GsmToAnsi reads them but whole.
std::u16string GsmToUnicode(std::string_view septets);

// kCodingGsm7 when the default alphabet and its extension table hold every
// character of the text, else kCodingUcs2: a character is never sent as "?".
int32_t DetectCoding(std::u16string_view text);

// The 7-bit packing of septets into octets, as hexadecimal text: N septets give
// N - N/8 octets, the unused high bits of the last octet 0.
std::string PackSeptets(std::string_view septets);

// The reverse of PackSeptets, through GsmToAnsi. Only upper-case digits count: a
// bad first digit of an octet ends the decoding, a bad second digit is skipped.
// When the last octet completes a group of seven and the septet left over is 0, that
// septet is not produced: a text of 7, 15, 23 ... septets leaves exactly such fill.
// Only the user data length tells it from a last "@"; DecodeText uses it to do so.
std::string UnpackSeptets(std::string_view hex);
// The septet codes UnpackSeptets reads, before any alphabet, for a caller that
// reads them whole (GsmToUnicode) or strips a fill of its own first.
std::string UnpackSeptetCodes(std::string_view hex);

// One byte per octet, no alphabet conversion. Either letter case.
// Throws EConvertError on a digit that is not hexadecimal.
std::string HexToBytes(std::string_view hex);

// One UTF-16 code unit per four digits; a short last group is padded with "0".
// Throws EConvertError on a digit that is not hexadecimal.
std::u16string HexToUcs2(std::string_view hex);

// Exchanges the characters in pairs ("12345" gives "21435"); an unpaired last
// character stays where it is.
std::string SwapSemiOctets(std::string_view digits);

// ---- The data coding scheme (3GPP TS 23.038, 4) ----

// A message-waiting indication: messages of a kind wait for the user somewhere in
// the network (a voice mailbox, say), or no longer do.
struct WaitingIndication {
    enum class Kind : uint8_t { Voicemail, Fax, Email, Other, Video };
    Kind kind = Kind::Voicemail;
    bool active = false;  // some wait (true) or none do any more (false)
    int count = -1;       // how many wait, as the message says; -1 when it does not say
    bool operator==(const WaitingIndication&) const = default;
};

struct DataCoding {
    int32_t alphabet = 0;        // 0 7-bit, 1 8-bit data, 2 UCS2, 3 reserved
    int32_t message_class = -1;  // 0 (shown at once, a "flash" message) to 3; -1 for none
    std::optional<WaitingIndication> waiting;  // set by the message-waiting groups
};

// What a TP-DCS octet says. The reserved coding groups read as the default
// alphabet, as the standard tells a receiver to read them.
DataCoding ReadDataCoding(uint8_t scheme);

// ---- The PDU codec ----------------------------------------------------------------

// One instance per PDU built or parsed. To send: set Text, Number, UDH and Coding,
// then EncodeSubmit. To receive: ParsePDU, then DecodeSender, DecodeTimeStamp and
// DecodeText. Positions are 1-based places in PDU, counted in hexadecimal digits.
class TSMS {
  public:
    int32_t VPLength = 0;       // digits of the validity period of a parsed SMS-SUBMIT: 0, 2 or 14
    int32_t SMSCLength = 0;     // digits of the SMSC information after its length octet
    int32_t AddressLength = 0;  // the address length octet rounded up to even
    int32_t AddressPos = 0;     // position of the address type octet
    int32_t Alphabet = 0;       // of the data coding scheme: 0 7-bit, 1 8-bit, 2 UCS2, 3 reserved
    int32_t ProtocolId = 0;     // TP-PID of a parsed PDU
    int32_t CodingScheme = 0;   // TP-DCS of a parsed PDU
    int32_t UDL = 0;            // the user data length octet, set by DecodeText
    int32_t TPDULength = 0;     // octets without the SMSC information
    int32_t FirstOctetPos = 0;  // position of the first octet
    std::string PDU;            // the hexadecimal text given to ParsePDU
    std::string Text;           // the message text to encode
    std::string MessageReference;  // two hexadecimal digits; empty sends "00"
    std::string Number;            // the destination number: digits after an optional "+"
    std::string UDH;     // user data header as hexadecimal digits with its length octet, or empty
    bool Flash = false;  // send as message class 0
    bool ReplyPath = false;        // set TP-RP
    bool HasUDH = false;           // TP-UDHI of the parsed first octet
    bool StatusReport = false;     // set TP-SRR
    bool IsSubmit = false;         // the parsed PDU is an SMS-SUBMIT
    int32_t Coding = kCodingGsm7;  // kCodingGsm7, kCodingUcs2 or kCodingAuto
    // Set by DecodeText: the text whole when the one it gave lost characters that
    // Windows-1251 lacks (shown there as "?"), line breaks as CR LF; else empty.
    // An input of EncodeSubmit too: when set, the text it encodes instead of Text.
    std::u16string Whole;

    // The SMS-SUBMIT PDU of the inputs, SMSC part "00" included, and TPDULength.
    // Inputs that CheckSubmit finds a problem with give an empty result and
    // TPDULength 0: nothing that is not the PDU of one SMS may reach the modem line.
    std::string EncodeSubmit();

    // What is wrong with the inputs of EncodeSubmit as they stand, if anything.
    SubmitProblem CheckSubmit() const;

    // The destination address field (length, type, swapped digits) of a number, or
    // nothing when CheckAddress finds a problem with it.
    static std::optional<std::string> EncodeAddress(std::string_view number);
    static AddressProblem CheckAddress(std::string_view number);

    // Stores pdu in PDU and reads the header fields. Lenient: a field that cannot be
    // read (cut short, not hexadecimal) counts as 0. Never fails, never reads outside pdu.
    void ParsePDU(std::string_view pdu);

    // The sender of a parsed SMS-DELIVER (the destination of an SMS-SUBMIT): digits,
    // "+" for an international number, or an alphanumeric name. Empty on failure.
    std::string DecodeSender() const;

    // An address field from its type octet on; empty on failure.
    static std::string DecodeAddress(std::string_view field);

    // The service-centre time stamp as date-time text ("06.12.2026 20:52:41"); empty
    // for an SMS-SUBMIT. Throws EConvertError when the digits are not decimal or the
    // date or time does not exist.
    std::string DecodeTimeStamp() const;

    // The user data as text, or kDecodeErrorText for a reserved alphabet or unreadable
    // digits. Sets UDL and, for a PDU with a header, UDH. Leaves PDU alone, so a
    // second call gives the same text.
    std::string DecodeText();

    // Every line break as CR LF: the pairs CR LF and LF CR, and lone CR and LF.
    static std::string NormalizeLineBreaks(std::string_view text);
    static std::u16string NormalizeLineBreaks(std::u16string_view text);

  private:
    // Whole when set, else Text.
    std::u16string TextToEncode() const;
    // text_length: septets of a 7-bit text, code units of a UCS2 one.
    SubmitProblem CheckInputs(size_t text_length, bool gsm7) const;
    std::string DecodeUserData(int32_t header_length, int32_t user_data_pos);
};

}  // namespace velka
