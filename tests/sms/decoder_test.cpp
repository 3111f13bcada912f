// Taking SMS-DELIVER (and SMS-SUBMIT) PDUs apart.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "sms/smsbase.h"

namespace velka {
namespace {

// An SMS-DELIVER from +71234567890 through service centre +70000000000, stamped
// 06.12.2026 20:52:41, with the given first octet, coding scheme and user data
// (length octet first).
std::string Deliver(std::string_view first_octet, std::string_view dcs, std::string_view user_data,
                    std::string_view sender = "0B911732547698F0") {
    return std::string("07910700000000F0") + std::string(first_octet) + std::string(sender) + "00" +
           std::string(dcs) + "62216002251421" + std::string(user_data);
}

const std::string kHi = "07910700000000F0040B911732547698F000006221600225142102C834";

TEST(ParsePdu, ReadsTheHeaderFieldsOfADeliver) {
    ASSERT_EQ(Deliver("04", "00", "02C834"), kHi);
    TSMS sms;
    sms.ParsePDU(kHi);
    EXPECT_EQ(sms.PDU, kHi);
    EXPECT_EQ(sms.SMSCLength, 14);
    EXPECT_EQ(sms.FirstOctetPos, 17);
    EXPECT_FALSE(sms.IsSubmit);
    EXPECT_FALSE(sms.HasUDH);
    EXPECT_EQ(sms.VPLength, 0);
    EXPECT_EQ(sms.AddressPos, 21);
    EXPECT_EQ(sms.AddressLength, 12);
    EXPECT_EQ(sms.TPDULength, 21);
    EXPECT_EQ(sms.Alphabet, 0);
    EXPECT_EQ(sms.MessageReference, "0B");
}

TEST(ParsePdu, ReadsTheValidityPeriodOfASubmitByItsFormat) {
    for (auto [first_octet, digits] :
         {std::pair{"01", 0}, std::pair{"11", 2}, std::pair{"09", 14}, std::pair{"19", 14}}) {
        TSMS sms;
        sms.ParsePDU(std::string("00") + first_octet + "000B911732547698F00000");
        EXPECT_TRUE(sms.IsSubmit);
        EXPECT_EQ(sms.VPLength, digits) << first_octet;
        EXPECT_EQ(sms.AddressPos, 9);
    }
}

TEST(DecodeDeliver, TheWorkedExampleGivesSenderTimeAndText) {
    TSMS sms;
    sms.ParsePDU(kHi);
    EXPECT_EQ(sms.DecodeSender(), "+71234567890");
    EXPECT_EQ(sms.DecodeTimeStamp(), "06.12.2026 20:52:41");
    EXPECT_EQ(sms.DecodeText(), "Hi");
    EXPECT_EQ(sms.UDL, 2);
    EXPECT_EQ(sms.DecodeText(), "Hi");  // the PDU is left as it was
}

TEST(DecodeDeliver, SevenBitTextAfterAHeader) {
    TSMS sms;
    sms.ParsePDU(Deliver("44", "00", "090500030A02019069"));
    EXPECT_TRUE(sms.HasUDH);
    EXPECT_EQ(sms.DecodeText(), "Hi");
    EXPECT_EQ(sms.UDH, "0500030A0201");
    EXPECT_EQ(sms.DecodeText(), "Hi");
}

TEST(DecodeDeliver, Ucs2TextWithAndWithoutHeader) {
    TSMS plain;
    plain.ParsePDU(Deliver("04", "08", "06041F04400438"));
    EXPECT_EQ(plain.DecodeText(), "\xCF\xF0\xE8");
    TSMS segment;
    segment.ParsePDU(Deliver("44", "08", "0C0500030A0201041F04400438"));
    EXPECT_EQ(segment.DecodeText(), "\xCF\xF0\xE8");
    EXPECT_EQ(segment.UDH, "0500030A0201");
}

TEST(DecodeDeliver, Ucs2CharactersOutsideTheCodePageBecomeQuestionMarks) {
    TSMS sms;
    sms.ParsePDU(Deliver("04", "08", "04010C0041"));
    EXPECT_EQ(sms.DecodeText(), "?A");
}

TEST(DecodeDeliver, EightBitDataIsTakenAsBytes) {
    TSMS sms;
    sms.ParsePDU(Deliver("04", "04", "0341FF42"));
    EXPECT_EQ(sms.Alphabet, 1);
    EXPECT_EQ(sms.DecodeText(),
              "A\xFF"
              "B");
    TSMS segment;
    segment.ParsePDU(Deliver("44", "F4", "0905000300020141FF42"));
    EXPECT_EQ(segment.DecodeText(),
              "A\xFF"
              "B");
}

// A 7-bit text of eight septets fills seven octets exactly; its last septet, an "@",
// is a zero that only the user data length tells from fill.
TEST(DecodeDeliver, ATextEndingInAtThatFillsItsOctetsKeepsIt) {
    TSMS sms;
    sms.ParsePDU(Deliver("04", "00", "08" + PackSeptets(std::string("Hi ther\0", 8))));
    EXPECT_EQ(sms.DecodeText(), "Hi ther@");
    TSMS all_at;
    all_at.ParsePDU(Deliver("04", "00", "0800000000000000"));
    EXPECT_EQ(all_at.DecodeText(), "@@@@@@@@");
    TSMS seven;  // seven septets leave seven fill bits, which are not a character
    seven.ParsePDU(Deliver("04", "00", "07" + PackSeptets("abcdefg")));
    EXPECT_EQ(seven.DecodeText(), "abcdefg");
}

TEST(DecodeDeliver, TheTextIsCutToTheUserDataLength) {
    TSMS sms;
    sms.ParsePDU(Deliver("04", "00", "01C834"));
    EXPECT_EQ(sms.DecodeText(), "H");
    TSMS longer;  // a length beyond the data gives what is there
    longer.ParsePDU(Deliver("04", "00", "A0C834"));
    EXPECT_EQ(longer.DecodeText(), "Hi");
}

TEST(DecodeDeliver, LineBreaksBecomeCrLf) {
    EXPECT_EQ(TSMS::NormalizeLineBreaks("a\nb\rc\r\nd\n\re\n\nf\r"),
              "a\r\nb\r\nc\r\nd\r\ne\r\n\r\nf\r\n");
    EXPECT_EQ(TSMS::NormalizeLineBreaks(""), "");
    TSMS sms;
    sms.ParsePDU(Deliver("04", "00", "03" + PackSeptets("Hi\n")));
    EXPECT_EQ(sms.DecodeText(), "Hi\r\n");
}

// The alphabet tells a receiver to show the main table's character for a code the
// extension table lacks; a zero byte there would end the text for every reader.
TEST(DecodeDeliver, AnUnknownExtensionCodeShowsTheMainTablesCharacter) {
    TSMS sms;
    sms.ParsePDU(Deliver("04", "00",
                         "04" + PackSeptets(std::string("a\x1B"
                                                        "Ab",
                                                        4))));
    EXPECT_EQ(sms.DecodeText(), "aAb");
    EXPECT_TRUE(sms.Whole.empty()) << "nothing was lost";
}

// Characters that Windows-1251 lacks show as "?" in the text; Whole keeps them, line
// breaks as the text has them.
TEST(DecodeDeliver, WholeKeepsWhatTheTextLost) {
    TSMS gsm;
    gsm.ParsePDU(Deliver("04", "00", "05" + PackSeptets(std::string("\x01\n\x1B\x65\x10", 5))));
    EXPECT_EQ(gsm.DecodeText(), "?\r\n\x88?");  // the euro is 0x88 in Windows-1251
    EXPECT_EQ(gsm.Whole, u"\u00A3\r\n\u20AC\u0394");
    TSMS ucs2;
    ucs2.ParsePDU(Deliver("04", "08", "0A00480069D83DDE00003F"));  // "Hi", an emoji, "?"
    EXPECT_EQ(ucs2.DecodeText(), "Hi??");
    EXPECT_EQ(ucs2.Whole, u"Hi\U0001F600?");
    TSMS plain;
    plain.ParsePDU(Deliver("04", "08", "06041F0440003F"));  // "Пр?"
    EXPECT_EQ(plain.DecodeText(), "\xCF\xF0?");
    EXPECT_TRUE(plain.Whole.empty()) << "a question mark the sender wrote is no loss";
}

// The coding groups beyond the general one: message waiting (discard and store with
// the default alphabet, store with UCS2), data coding with a class, and the reserved
// groups, which read as the default alphabet.
TEST(DecodeDeliver, EveryCodingGroupChoosesItsAlphabet) {
    const struct {
        const char* dcs;
        int alphabet;
        int message_class;
    } cases[] = {{"00", 0, -1}, {"10", 0, 0},  {"18", 2, 0},  {"16", 1, 2},
                 {"44", 1, -1}, {"88", 0, -1}, {"C8", 0, -1}, {"D9", 0, -1},
                 {"E0", 2, -1}, {"F0", 0, 0},  {"F5", 1, 1},  {"FC", 1, 0}};
    for (const auto& one : cases) {
        TSMS sms;
        sms.ParsePDU(Deliver("04", one.dcs, "02C834"));
        EXPECT_EQ(sms.Alphabet, one.alphabet) << one.dcs;
        const DataCoding coding = ReadDataCoding(static_cast<uint8_t>(sms.CodingScheme));
        EXPECT_EQ(coding.message_class, one.message_class) << one.dcs;
    }
    const DataCoding voicemail = ReadDataCoding(0xC8);
    ASSERT_TRUE(voicemail.waiting);
    EXPECT_EQ(voicemail.waiting->kind, WaitingIndication::Kind::Voicemail);
    EXPECT_TRUE(voicemail.waiting->active);
    const DataCoding no_fax = ReadDataCoding(0xD1);
    ASSERT_TRUE(no_fax.waiting);
    EXPECT_EQ(no_fax.waiting->kind, WaitingIndication::Kind::Fax);
    EXPECT_FALSE(no_fax.waiting->active);
    EXPECT_FALSE(ReadDataCoding(0xF0).waiting);
}

TEST(DecodeDeliver, AReservedAlphabetOrBadDigitsGiveTheErrorText) {
    for (const std::string& pdu : {
             Deliver("04", "0C", "02C834"),              // a reserved alphabet
             Deliver("04", "08", "X2C834"),              // a bad length digit
             Deliver("04", "08", "04041Z0440"),          // a bad UCS2 digit
             Deliver("44", "00", "09QQ00030A02019069"),  // a bad header length
         }) {
        TSMS sms;
        sms.ParsePDU(pdu);
        EXPECT_EQ(sms.DecodeText(), kDecodeErrorText) << pdu;
    }
    EXPECT_EQ(std::string(kDecodeErrorText), codepage::FromUtf8("Ошибка"));
}

TEST(DecodeDeliver, BadDigitsInsideAHeaderDoNotCostTheText) {
    TSMS sms;
    sms.ParsePDU(Deliver("44", "08", "0C05XX030A0201041F04400438"));
    EXPECT_EQ(sms.DecodeText(), "\xCF\xF0\xE8");
    EXPECT_EQ(sms.UDH, "05XX030A0201");
}

TEST(DecodeSender, NumbersAndNames) {
    EXPECT_EQ(TSMS::DecodeAddress("819800214365F7"), "89001234567");
    EXPECT_EQ(TSMS::DecodeAddress("911732547698F0"), "+71234567890");
    EXPECT_EQ(TSMS::DecodeAddress("D0" + PackSeptets("Velka")), "Velka");
    EXPECT_EQ(TSMS::DecodeAddress("91"), "");
    EXPECT_EQ(TSMS::DecodeAddress("ZZ1234"), "");
    EXPECT_EQ(TSMS::DecodeAddress(""), "");

    TSMS named;
    named.ParsePDU(Deliver("04", "00", "02C834", "0AD0" + PackSeptets("Velka")));
    EXPECT_EQ(named.DecodeSender(), "Velka");
    EXPECT_EQ(named.DecodeText(), "Hi");
}

TEST(DecodeTimeStamp, MidnightShowsTheDateAlone) {
    TSMS sms;
    sms.ParsePDU(
        "07910700000000F0040B911732547698F00000"
        "62216000000021"
        "02C834");
    EXPECT_EQ(sms.DecodeTimeStamp(), "06.12.2026");
}

TEST(DecodeTimeStamp, ASubmitHasNone) {
    TSMS sms;
    sms.ParsePDU("0011000B911732547698F00000FF02C834");
    EXPECT_EQ(sms.DecodeTimeStamp(), "");
    EXPECT_EQ(sms.DecodeSender(), "+71234567890");
    EXPECT_EQ(sms.DecodeText(), "Hi");
}

TEST(DecodeTimeStamp, AnImpossibleOrUnreadableStampRaisesAConversionError) {
    for (const char* stamp : {"62006002251421",     // month 0
                              "62216052251421",     // hour 25
                              "6221600225A421"}) {  // not decimal
        TSMS sms;
        sms.ParsePDU(std::string("07910700000000F0040B911732547698F00000") + stamp);
        EXPECT_THROW(sms.DecodeTimeStamp(), EConvertError) << stamp;
    }
    TSMS cut;
    cut.ParsePDU("07910700000000F0040B911732547698F000006221600225");  // no second
    EXPECT_THROW(cut.DecodeTimeStamp(), EConvertError);
}

}  // namespace
}  // namespace velka
