#include "sms/received.h"

#include <algorithm>
#include <array>

#include "platform/codepage.h"

namespace velka {
namespace {

constexpr uint8_t kSpecialMessageIndication = 0x01;
constexpr uint8_t kPorts8 = 0x04;
constexpr uint8_t kPorts16 = 0x05;

// A special SMS message indication (TS 23.040, 9.2.3.24.2): bit 7 of the first
// octet says store or discard, bits 0-1 the basic kind, bits 2-4 an extended kind
// (1: video); the second octet the count.
WaitingIndication SpecialIndication(uint8_t type, uint8_t count) {
    WaitingIndication indication;
    const int extended = (type >> 2) & 7;
    indication.kind = extended == 1 ? WaitingIndication::Kind::Video
                                    : static_cast<WaitingIndication::Kind>(type & 3);
    indication.count = count;
    indication.active = count > 0;
    return indication;
}

struct PortName {
    uint16_t port;
    const char* name;  // UTF-8
};
// The ports of TS 23.040's and the WAP Forum's registrations that phones meet.
constexpr std::array<PortName, 9> kPortNames = {{
    {2948, "WAP Push"},
    {2949, "WAP Push"},
    {5505, "мелодия"},
    {5506, "логотип оператора"},
    {5507, "логотип группы"},
    {5512, "картинка"},
    {5514, "картинка"},
    {9204, "vCard"},
    {9205, "vCalendar"},
}};

// "1 байт", "2 байта", "5 байт", "21 байт", "22 байта", "112 байт".
std::string Bytes(std::size_t count) {
    const std::size_t last_two = count % 100;
    const std::size_t last = count % 10;
    const bool teens = last_two >= 11 && last_two <= 14;
    const char* word = !teens && last >= 2 && last <= 4 ? "байта" : "байт";
    return std::to_string(count) + " " + word;
}

std::string Utf8Text(const std::string& utf8) {
    return codepage::FromUtf8(utf8);
}

}  // namespace

HeaderFacts ReadHeaderFacts(std::string_view header) {
    HeaderFacts facts;
    if (header.empty()) return facts;
    const auto octet = [&](std::size_t at) { return static_cast<uint8_t>(header[at]); };
    const std::size_t end = std::min<std::size_t>(header.size(), 1 + octet(0));
    for (std::size_t at = 1; at + 2 <= end;) {
        const uint8_t id = octet(at);
        const std::size_t length = octet(at + 1);
        const std::size_t data = at + 2;
        if (data + length > end) break;
        if (id == kPorts16 && length == 4) {
            facts.destination_port = static_cast<uint16_t>(octet(data) << 8 | octet(data + 1));
        } else if (id == kPorts8 && length == 2) {
            facts.destination_port = octet(data);
        } else if (id == kSpecialMessageIndication && length == 2) {
            facts.waiting.push_back(SpecialIndication(octet(data), octet(data + 1)));
        }
        at = data + length;
    }
    return facts;
}

std::vector<WaitingIndication> ReceivedMessage::Indications() const {
    std::vector<WaitingIndication> all = header_facts.waiting;
    // The header's element counts the messages; the coding scheme's of the same kind
    // only repeats it.
    const bool repeated =
        coding.waiting && std::any_of(all.begin(), all.end(), [&](const WaitingIndication& said) {
            return said.kind == coding.waiting->kind;
        });
    if (coding.waiting && !repeated) all.insert(all.begin(), *coding.waiting);
    return all;
}

bool ReceivedMessage::NeedsMoreThanText() const {
    // Any protocol identifier but the plain one is kept: it may make the message
    // replace an earlier one.
    return is_data || !whole.empty() || coding.message_class == 0 || protocol_id != 0 ||
           !Indications().empty();
}

ReceivedMessage ReadReceived(std::string_view pdu) {
    TSMS sms;
    sms.ParsePDU(pdu);
    ReceivedMessage message;
    message.text = sms.DecodeText();
    message.whole = std::move(sms.Whole);
    message.protocol_id = static_cast<uint8_t>(sms.ProtocolId);
    message.coding_scheme = static_cast<uint8_t>(sms.CodingScheme);
    message.coding = ReadDataCoding(message.coding_scheme);
    if (sms.HasUDH) {
        try {
            message.header = HexToBytes(sms.UDH);
        } catch (const EConvertError&) {
            // A header with a bad digit says nothing more than its text does.
        }
        message.header_facts = ReadHeaderFacts(message.header);
    }
    if (sms.Alphabet == 1 && message.text != kDecodeErrorText) {
        message.is_data = true;
        message.data = std::move(message.text);
        // A PDU may hold more octets than a message carries (a modem's or a
        // forger's): the payload is what the network could have delivered.
        if (message.data.size() > static_cast<std::size_t>(kMaxUserDataOctets))
            message.data.resize(static_cast<std::size_t>(kMaxUserDataOctets));
        message.text = DescribeData(message.data.size(), message.header_facts.destination_port);
    }
    std::string said;
    for (const WaitingIndication& indication : message.Indications())
        said += DescribeWaiting(indication);
    if (!said.empty()) {
        const std::string& rest = message.text;
        if (!message.whole.empty()) {
            message.whole = codepage::ToUtf16(said + (rest.empty() ? "" : "\r\n")) + message.whole;
        }
        message.text = said + (rest.empty() ? "" : "\r\n" + rest);
    }
    return message;
}

std::string DescribeData(std::size_t bytes, std::optional<uint16_t> port) {
    std::string text = "[двоичное сообщение, " + Bytes(bytes);
    if (port) {
        text += ", порт " + std::to_string(*port);
        const auto named = std::find_if(kPortNames.begin(), kPortNames.end(),
                                        [&](const PortName& known) { return known.port == *port; });
        if (named != kPortNames.end()) text += std::string(" (") + named->name + ")";
    }
    return Utf8Text(text + "]");
}

std::string DescribeWaiting(const WaitingIndication& indication) {
    static constexpr std::array<const char*, 5> kKinds = {
        "Голосовая почта", "Факс", "Электронная почта", "Другие сообщения", "Видеопочта"};
    std::string text = std::string("[") + kKinds[static_cast<std::size_t>(indication.kind)] + ": ";
    if (!indication.active) {
        text += "новых сообщений нет";
    } else if (indication.count > 0) {
        text += "новых сообщений " + std::to_string(indication.count);
    } else {
        text += "есть новые сообщения";
    }
    return Utf8Text(text + "]");
}

}  // namespace velka
