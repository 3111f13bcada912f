#include "store/packet.h"

#include <gtest/gtest.h>

#include <string>

#include "store/chksum.h"

namespace velka {
namespace {

TEST(Packet, ANewRecordIsClearedAndWritersMarkItStored) {
    const packet cleared;
    EXPECT_EQ(cleared.state, 0);
    EXPECT_EQ(cleared.text_len, 0);
    EXPECT_EQ(cleared.checksum, 0u);
    EXPECT_EQ(cleared.number_text(), "");

    const packet stored = MakePacket("+79990000001", "06.12.2026 20:52:41", "");
    EXPECT_EQ(stored.state, kPacketStored);
    EXPECT_EQ(stored.text_len, 0);
    EXPECT_EQ(stored.checksum, 0u);
}

TEST(Packet, OverLongFieldsAreCutAtTheirLimits) {
    packet record;
    record.set_number(std::string(30, '7'));
    record.set_datetime(std::string(22, '1'));
    EXPECT_EQ(record.number_text(), std::string(24, '7'));
    EXPECT_EQ(record.number[24], '\0');
    EXPECT_EQ(record.datetime_text(), std::string(19, '1'));
    EXPECT_EQ(record.datetime[19], '\0');

    record.set_text(std::string(1500, 'x'));
    EXPECT_EQ(record.text_len, 1024);
    EXPECT_EQ(record.checksum, chksum(std::string(1024, 'x').data(), 1024));
}

TEST(Packet, AFullTextFillsItsFieldAndReadsBackWhole) {
    const std::string full(1024, 'z');
    const packet record = MakePacket("1", "d", full);
    EXPECT_EQ(record.text_text(), full);  // no terminating zero, nothing from beyond
    EXPECT_EQ(DecodePacket(EncodePacket(record).data()).text_text(), full);
}

TEST(Packet, ASetterClearsWhatALongerValueLeftBehind) {
    packet record;
    record.set_text("a much longer text");
    record.set_text("short");
    EXPECT_EQ(record.text_text(), "short");
    EXPECT_EQ(record.text[6], '\0');
    record.set_number("+123456789");
    record.set_number("12");
    EXPECT_EQ(record.number_text(), "12");
}

TEST(Packet, ReadersStopAtTheFirstZeroByte) {
    const std::string with_zero("before\0after", 12);
    const packet record = MakePacket("1", "d", with_zero);
    EXPECT_EQ(record.text_len, 12);
    EXPECT_EQ(record.text_text(), "before");
}

TEST(PacketEncoding, IsTheFixedLittleEndianLayout) {
    packet record = MakePacket("+7123", "06.12.2026 20:52:41", std::string(0x0102, 'q'));
    const PacketBytes bytes = EncodePacket(record);
    EXPECT_EQ(std::string(bytes.data(), 5), "+7123");
    EXPECT_EQ(std::string(bytes.data() + 25, 19), "06.12.2026 20:52:41");
    EXPECT_EQ(bytes[45], 1);
    EXPECT_EQ(bytes[46], 0x02);
    EXPECT_EQ(bytes[47], 0x01);
    const std::uint32_t sum = record.checksum;
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(static_cast<unsigned char>(bytes[48 + i]), (sum >> (8 * i)) & 0xFF);
    EXPECT_EQ(bytes[52], 'q');

    const packet back = DecodePacket(bytes.data());
    EXPECT_EQ(back.number_text(), "+7123");
    EXPECT_EQ(back.text_len, 0x0102);
    EXPECT_EQ(back.checksum, sum);
    EXPECT_EQ(back.state, 1);
}

TEST(Chksum, KeyBytesAndTextBytesAreSignedAndTheKeyZeroTakesPart) {
    EXPECT_EQ(chksum("", 0), 0u);
    EXPECT_EQ(chksum("A", 1), 0x71u ^ 0x41u);
    // Twelve zero bytes: the key runs q o t m u 7 2 4 k 8 \0 q, each plus 2i.
    EXPECT_EQ(chksum(std::string(12, '\0').data(), 12), 1131u);
    // "Привет" in Windows-1251: every byte is negative as a signed 8-bit value.
    const std::string privet = "\xCF\xF0\xE8\xE2\xE5\xF2";
    EXPECT_EQ(chksum(privet.data(), privet.size()), 0xFFFFFDABu);
}

TEST(Chksum, ChangingAnySingleByteChangesTheSum) {
    std::string text = "Hello, \xEC\xE8\xF0! 0123456789 and more text beyond eleven bytes";
    const std::uint32_t original = chksum(text.data(), text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        for (int delta : {1, 0x80}) {
            std::string changed = text;
            changed[i] = static_cast<char>(changed[i] + delta);
            EXPECT_NE(chksum(changed.data(), changed.size()), original) << "byte " << i;
        }
    }
}

}  // namespace
}  // namespace velka
