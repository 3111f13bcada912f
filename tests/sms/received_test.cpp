// A received message as the inbox keeps it: every character of the GSM alphabet and
// of other scripts read whole (the PDUs made by the virtual modem's own code, which
// shares nothing with the codec), binary payloads with their ports, and the
// message-waiting indications in words.
#include "sms/received.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"
#include "tools/modemsim/pdu.h"

namespace velka {
namespace {

std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

// The one PDU the virtual modem makes of a short text.
std::string DeliverOf(const std::u16string& text) {
    const auto pdus = modemsim::DeliversForText(codepage::Utf16ToUtf8(text), "+79161234567",
                                                "+79000000000", modemsim::TimeStamp{}, 1);
    EXPECT_EQ(pdus.size(), 1u);
    return pdus.front();
}

std::string DeliverWith(std::uint8_t protocol_id, std::uint8_t coding, const std::string& header,
                        const std::string& body, std::uint8_t length) {
    modemsim::Deliver deliver;
    deliver.service_centre = "+79000000000";
    deliver.originator = "+79161234567";
    deliver.data.protocol_id = protocol_id;
    deliver.data.coding = coding;
    deliver.data.has_header = !header.empty();
    deliver.data.length = length;
    const std::string octets = header + body;
    deliver.data.octets.assign(octets.begin(), octets.end());
    return modemsim::BuildDeliver(deliver);
}

// The characters of the default alphabet (all but the escape) and of its extension
// table, as the alphabet defines them.
std::u16string EveryGsmCharacter() {
    std::u16string all =
        u"@\u00A3$\u00A5\u00E8\u00E9\u00F9\u00EC\u00F2\u00C7\n\u00D8\u00F8\r\u00C5\u00E5"
        u"\u0394_\u03A6\u0393\u039B\u03A9\u03A0\u03A8\u03A3\u0398\u039E\u00C6\u00E6\u00DF\u00C9"
        u" !\"#\u00A4%&'()*+,-./0123456789:;<=>?"
        u"\u00A1ABCDEFGHIJKLMNOPQRSTUVWXYZ\u00C4\u00D6\u00D1\u00DC\u00A7"
        u"\u00BFabcdefghijklmnopqrstuvwxyz\u00E4\u00F6\u00F1\u00FC\u00E0"
        u"\f^{}\\[~]|\u20AC";
    return all;
}

TEST(ReceivedText, EveryGsmCharacterReadsAsItself) {
    const std::u16string all = EveryGsmCharacter();
    ASSERT_EQ(all.size(), 127u + 10u);
    for (const char16_t character : all) {
        if (character == u'\r' || character == u'\n') continue;  // line breaks: below
        const std::u16string text{u'x', character, u'x'};
        const ReceivedMessage message = ReadReceived(DeliverOf(text));
        const char byte = codepage::FromUnicode(character);
        const std::string expected{'x', byte, 'x'};
        EXPECT_EQ(message.text, expected) << "U+" << std::hex << int(character);
        if (byte == '?' && character != u'?') {
            EXPECT_EQ(message.whole, text) << "U+" << std::hex << int(character);
        } else {
            EXPECT_TRUE(message.whole.empty()) << "U+" << std::hex << int(character);
        }
        EXPECT_EQ(message.coding_scheme, 0x00) << "the virtual modem sent it as 7-bit";
    }
    const ReceivedMessage lines = ReadReceived(DeliverOf(u"\u00E9\nb\rc"));
    EXPECT_EQ(lines.text, "?\r\nb\r\nc");
    EXPECT_EQ(lines.whole, u"\u00E9\r\nb\r\nc");
}

TEST(ReceivedText, EmojiAndOtherScriptsComeWhole) {
    for (const std::u16string text :
         {u"\U0001F600 \U0001F44D\U0001F3FD", u"\u039A\u03B1\u03BB\u03B7\u03BC\u03AD\u03C1\u03B1",
          u"\u4F60\u597D\uFF0C\u4E16\u754C", u"\u0645\u0631\u062D\u0628\u0627",
          u"\u041F\u0440\u0438\u0432\u0435\u0442 \U0001F600"}) {
        const ReceivedMessage message = ReadReceived(DeliverOf(text));
        EXPECT_EQ(message.whole, text);
        EXPECT_EQ(codepage::ToUtf16(message.text).size() <= text.size(), true);
        EXPECT_TRUE(message.NeedsMoreThanText());
    }
    const ReceivedMessage russian =
        ReadReceived(DeliverOf(u"\u041F\u0440\u0438\u0432\u0435\u0442"));
    EXPECT_EQ(russian.text, W("Привет"));
    EXPECT_TRUE(russian.whole.empty());
    EXPECT_FALSE(russian.NeedsMoreThanText()) << "the record alone says it all";
}

TEST(ReceivedData, IsAPayloadWithADescriptionNeverRawBytes) {
    const std::string payload("\x01\x00\x1F\r\nraw", 8);
    const std::string ports16("\x06\x05\x04\x0B\x84\x23\xF0", 7);  // to 2948 (WAP Push)
    const ReceivedMessage push = ReadReceived(DeliverWith(0, 0x04, ports16, payload, 15));
    ASSERT_TRUE(push.is_data);
    EXPECT_EQ(push.data, payload);
    EXPECT_EQ(push.header, ports16);
    EXPECT_EQ(push.header_facts.destination_port, 2948);
    EXPECT_EQ(push.text, W("[двоичное сообщение, 8 байт, порт 2948 (WAP Push)]"));
    EXPECT_TRUE(push.NeedsMoreThanText());

    const std::string ports8("\x04\x04\x02\xF5\x00", 5);
    const ReceivedMessage eight = ReadReceived(DeliverWith(0, 0xF5, ports8, "ab", 7));
    EXPECT_EQ(eight.text, W("[двоичное сообщение, 2 байта, порт 245]"));
    EXPECT_EQ(eight.coding.message_class, 1);
    EXPECT_EQ(ReadReceived(DeliverWith(0, 0x04, "", std::string(21, 'z'), 21)).text,
              W("[двоичное сообщение, 21 байт]"));
    EXPECT_EQ(DescribeData(112, std::nullopt), W("[двоичное сообщение, 112 байт]"));
    EXPECT_EQ(DescribeData(1, 9204), W("[двоичное сообщение, 1 байт, порт 9204 (vCard)]"));
}

// A voicemail indication in the coding scheme, with its text in the default alphabet
// (its bits once read it as UCS2, which gave garbage), and one in the header that
// counts the messages.
TEST(ReceivedIndication, IsWordedBeforeTheText) {
    const std::string hello("\xC8\x32\x9B\xFD\x06", 5);  // "Hello" packed
    const ReceivedMessage voicemail = ReadReceived(DeliverWith(0, 0xC8, "", hello, 5));
    EXPECT_EQ(voicemail.text, W("[Голосовая почта: есть новые сообщения]\r\nHello"));
    const ReceivedMessage cleared = ReadReceived(DeliverWith(0, 0xC0, "", "", 0));
    EXPECT_EQ(cleared.text, W("[Голосовая почта: новых сообщений нет]"));

    const std::string special("\x04\x01\x02\x80\x03", 5);  // store, voicemail, 3 waiting
    const ReceivedMessage counted = ReadReceived(DeliverWith(0, 0xC8, special, "", 5));
    EXPECT_EQ(counted.text, W("[Голосовая почта: новых сообщений 3]"))
        << "the coding scheme's indication of the same kind is not said twice";
    const std::string video_and_email("\x08\x01\x02\x84\x01\x01\x02\x02\x00", 9);
    const ReceivedMessage two = ReadReceived(DeliverWith(0, 0x04, video_and_email, "", 9));
    EXPECT_EQ(two.text, W("[Видеопочта: новых сообщений 1][Электронная почта: новых сообщений "
                          "нет]\r\n[двоичное сообщение, 0 байт]"));
    EXPECT_TRUE(two.NeedsMoreThanText());
}

TEST(ReceivedFacts, FlashAndReplaceMessagesAreKeptApartFromPlainOnes) {
    const std::string hi("\xC8\x34", 2);
    EXPECT_EQ(ReadReceived(DeliverWith(0, 0x10, "", hi, 2)).coding.message_class, 0);
    EXPECT_TRUE(ReadReceived(DeliverWith(0, 0x10, "", hi, 2)).NeedsMoreThanText());
    const ReceivedMessage replacing = ReadReceived(DeliverWith(0x41, 0x00, "", hi, 2));
    EXPECT_EQ(replacing.text, "Hi");
    EXPECT_EQ(replacing.protocol_id, 0x41);
    EXPECT_TRUE(replacing.NeedsMoreThanText());
    EXPECT_FALSE(ReadReceived(DeliverWith(0, 0x00, "", hi, 2)).NeedsMoreThanText());
}

TEST(ReceivedHeader, ElementsCutShortArePassedOver) {
    EXPECT_FALSE(ReadHeaderFacts(std::string("\x05\x05\x04\x0B", 4)).destination_port);
    EXPECT_FALSE(ReadHeaderFacts(std::string("\x03\x05\x04\x0B\x84\x23\xF0", 7)).destination_port)
        << "beyond the header's own length";
    EXPECT_TRUE(ReadHeaderFacts("").waiting.empty());
    const HeaderFacts both =
        ReadHeaderFacts(std::string("\x0A\x00\x03\x07\x02\x01\x04\x02\x10\x20\xFF", 11));
    EXPECT_EQ(both.destination_port, 0x10) << "after a concatenation element";
}

}  // namespace
}  // namespace velka
