// The virtual modem's SIM phone book: how the SIM keeps a name, and the answers
// of AT+CSCS, AT+CPBS and AT+CPBR in each character set and with each quirk.
#include "tools/modemsim/phone_book.h"

#include <gtest/gtest.h>

#include "tools/modemsim/session.h"

namespace velka::modemsim {
namespace {

const std::string kIvan = "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD";  // Иван

TEST(SimRecordTest, TheSimPicksTheNarrowestFormThatHoldsTheName) {
    EXPECT_EQ(ToHex(SimRecord("Bob [1]")), "426F62201B3C311B3E");
    // Cyrillic lies on the half page 0x08 (U+0400..U+047F): the 0x81 form.
    EXPECT_EQ(ToHex(SimRecord(kIvan + " 2")), "81060898B2B0BD2032");
    // Cyrillic and Greek on two half pages: UTF-16 behind 0x80.
    EXPECT_EQ(ToHex(SimRecord(kIvan.substr(0, 2) + "\xCE\xB1")), "80041803B1");
}

TEST(SimRecordTest, AnEntryOutsideTheSimsBoundsIsNotTaken) {
    PhoneBook book;
    book.Clear();
    EXPECT_FALSE(book.Put({0, "123", "A"}));
    EXPECT_FALSE(book.Put({PhoneBook::kCapacity + 1, "123", "A"}));
    EXPECT_FALSE(book.Put({3, "", "A"}));
    EXPECT_FALSE(book.Put({3, "123", std::string(PhoneBook::kNameLength + 1, 'x')}));
    EXPECT_TRUE(book.Put({3, "123", std::string(PhoneBook::kNameLength, 'x')}));
    EXPECT_TRUE(book.Put({1, "456", "B"}));
    EXPECT_TRUE(book.Put({3, "789", "C"}));
    ASSERT_EQ(book.entries().size(), 2u);
    EXPECT_EQ(book.entries()[0].index, 1);
    EXPECT_EQ(book.entries()[1].number, "789");
}

class PhoneBookSessionTest : public ::testing::Test {
  protected:
    PhoneBookSessionTest() : session_(ModemIdentity{"+79990000001", "+79990000000", 5, true}) {
        PhoneBook book;
        book.Clear();
        EXPECT_TRUE(book.Put({2, "+79161234567", kIvan}));
        EXPECT_TRUE(book.Put({7, "0500", "A@\xE2\x82\xAC"}));  // "@" and the euro
        session_.SetPhoneBook(book);
        Run("ATE0\r");
        Run("AT+CMEE=1\r");
    }

    std::string Run(std::string_view input) {
        SessionOutput out;
        session_.Feed(input, out);
        std::string all;
        for (const Emission& e : out.emissions) all += e.bytes;
        return all;
    }
    void SetFaults(void (*change)(Faults&)) {
        Faults faults = session_.faults();
        change(faults);
        session_.SetFaults(faults);
    }

    Session session_;
};

TEST_F(PhoneBookSessionTest, EachCharacterSetWritesTheNamesItsOwnWay) {
    EXPECT_EQ(Run("AT+CSCS=?\r"), "\r\n+CSCS: (\"GSM\",\"IRA\",\"HEX\",\"UCS2\")\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPBS=\"SM\"\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPBS?\r"), "\r\n+CPBS: \"SM\",2,250\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPBR=?\r"), "\r\n+CPBR: (1-250),40,18\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CSCS=\"UCS2\"\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPBR=1,10\r"),
              "\r\n+CPBR: 2,\"79161234567\",145,\"041804320430043D\"\r\n"
              "+CPBR: 7,\"0500\",129,\"0041004020AC\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CSCS=\"HEX\"\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPBR=1,10\r"),
              "\r\n+CPBR: 2,\"79161234567\",145,\"81040898B2B0BD\"\r\n"
              "+CPBR: 7,\"0500\",129,\"41001B65\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CSCS=\"GSM\"\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPBR=7\r"),
              std::string("\r\n+CPBR: 7,\"0500\",129,\"A") + '\0' + "\x1B\x65\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CSCS=\"IRA\"\r"), "\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPBR=1,2\r"), "\r\n+CPBR: 2,\"79161234567\",145,\"????\"\r\n\r\nOK\r\n");
}

TEST_F(PhoneBookSessionTest, UcsTwoRecordsAreYieldedAsTheSimKeepsThemWhenPassedThrough) {
    SetFaults([](Faults& f) { f.ucs2_records = true; });
    Run("AT+CSCS=\"UCS2\"\r");
    Run("AT+CPBS=\"SM\"\r");
    EXPECT_EQ(Run("AT+CPBR=1,10\r"),
              "\r\n+CPBR: 2,\"79161234567\",145,\"81040898B2B0BD\"\r\n"
              "+CPBR: 7,\"0500\",129,\"0041004020AC\"\r\n\r\nOK\r\n");
}

TEST_F(PhoneBookSessionTest, TheQuirksOfModemsAreServed) {
    Run("AT+CPBS=\"SM\"\r");
    EXPECT_EQ(Run("AT+CPBR=3,6\r"), "\r\n+CME ERROR: 22\r\n");
    SetFaults([](Faults& f) { f.empty_range = 21; });
    EXPECT_EQ(Run("AT+CPBR=3,6\r"), "\r\n+CME ERROR: 21\r\n");
    SetFaults([](Faults& f) { f.empty_range = 0; });
    EXPECT_EQ(Run("AT+CPBR=3,6\r"), "\r\nOK\r\n");
    SetFaults([](Faults& f) { f.phone_book_chunk = 1; });
    EXPECT_EQ(Run("AT+CPBR=1,250\r"), "\r\n+CPBR: 2,\"79161234567\",145,\"????\"\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CPBR=0,3\r"), "\r\n+CME ERROR: 21\r\n");
    EXPECT_EQ(Run("AT+CPBR=1,251\r"), "\r\n+CME ERROR: 21\r\n");
    SetFaults([](Faults& f) { f.charsets = {"GSM", "IRA", "HEX"}; });
    EXPECT_EQ(Run("AT+CSCS=?\r"), "\r\n+CSCS: (\"GSM\",\"IRA\",\"HEX\")\r\n\r\nOK\r\n");
    EXPECT_EQ(Run("AT+CSCS=\"UCS2\"\r"), "\r\n+CME ERROR: 4\r\n");
}

TEST_F(PhoneBookSessionTest, ASimWithoutAPhoneBookOrNotReadyRefusesIt) {
    SetFaults([](Faults& f) { f.no_phone_book = true; });
    EXPECT_EQ(Run("AT+CPBS=\"SM\"\r"), "\r\n+CME ERROR: 4\r\n");
    SetFaults([](Faults& f) {
        f.no_phone_book = false;
        f.sim = SimCondition::Missing;
    });
    EXPECT_EQ(Run("AT+CPBS=\"SM\"\r"), "\r\n+CME ERROR: 10\r\n");
    EXPECT_EQ(Run("AT+CPBR=1,10\r"), "\r\n+CME ERROR: 10\r\n");
}

}  // namespace
}  // namespace velka::modemsim
