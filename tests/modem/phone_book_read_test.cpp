// The SIM's phone book read through the session from a virtual modem: every
// character set, the quirks of modems, and each way a reading fails.
#include <gtest/gtest.h>

#include <thread>

#include "modem/phone_book.h"
#include "modem/session.h"
#include "platform/registry.h"
#include "tests/modem/sim_fixture.h"

namespace velka::modem {
namespace {

using testing::Count;
using testing::SimModems;

const std::string kIvan =
    "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \xD0\x9F\xD0\xB5\xD1\x82\xD1\x80"
    "\xD0\xBE\xD0\xB2";  // Иван Петров
const std::string kEuro = "\xE2\x82\xAC";

// What the virtual modem's SIM holds at start, as the client should read it.
const std::vector<PhoneBookEntry> kStartingBook = {
    {1, "79161234567", 145, kIvan},
    {2, "89031234567", 129, "Maria [work]"},
    {5, "0500", 129, "Service " + kEuro},
};

class PhoneBookReadTest : public ::testing::Test {
  protected:
    PhoneBookReadTest() : modems_(1) { session_.Bind(modems_.ComNumber(1)); }

    Result<std::vector<PhoneBookEntry>, PhoneBookError> Read() { return session_.ReadPhoneBook(); }
    std::vector<std::string> Names(const std::vector<PhoneBookEntry>& entries) {
        std::vector<std::string> names;
        for (const PhoneBookEntry& entry : entries) names.push_back(entry.name);
        return names;
    }
    // The commands written from the first phone-book command on.
    std::string PhoneBookTraffic() {
        const std::string written = modems_.Written(1);
        return written.substr(written.find("AT+CSCS?"));
    }

    SimModems modems_;
    StopSignal stop_;
    Session session_{stop_, Registry::Machine()};
};

TEST_F(PhoneBookReadTest, EveryEntryIsReadInUcs2AndTheModemsChoicesAreMadeAgain) {
    const auto read = Read();
    ASSERT_TRUE(read) << read.error().answer;
    EXPECT_EQ(*read, kStartingBook);
    EXPECT_EQ((*read)[0].Dialled(), "+79161234567");
    const std::string traffic = PhoneBookTraffic();
    // The modem had GSM and its own phone book "ME" chosen: both chosen again, last.
    EXPECT_NE(traffic.find("AT+CSCS=\"UCS2\""), std::string::npos);
    EXPECT_TRUE(traffic.ends_with("AT+CSCS=\"GSM\"\rAT+CPBS=\"ME\"\r")) << traffic;
    // The count "AT+CPBS?" gave ends the reading in the first chunk.
    EXPECT_EQ(Count(traffic, "AT+CPBR=1,20"), 1u);
    EXPECT_EQ(Count(traffic, "AT+CPBR=21"), 0u);
}

TEST_F(PhoneBookReadTest, EachCharacterSetAModemMayOfferGivesWhatItCanHold) {
    modems_.Control("fault 1 charsets GSM IRA HEX");
    const auto hex = Read();
    ASSERT_TRUE(hex) << hex.error().answer;
    EXPECT_EQ(*hex, kStartingBook);
    EXPECT_NE(PhoneBookTraffic().find("AT+CSCS=\"HEX\""), std::string::npos);
    modems_.Control("fault 1 charsets UCS2 IRA");
    modems_.Control("fault 1 ucs2-records on");
    const auto records = Read();
    ASSERT_TRUE(records) << records.error().answer;
    EXPECT_EQ(*records, kStartingBook);
    // GSM and IRA lack Cyrillic: the modem gives question marks, as real ones do.
    modems_.Control("fault 1 charsets GSM IRA");
    const auto gsm = Read();
    ASSERT_TRUE(gsm) << gsm.error().answer;
    EXPECT_EQ(Names(*gsm),
              (std::vector<std::string>{"???? ??????", "Maria [work]", "Service " + kEuro}));
    modems_.Control("fault 1 charsets IRA");
    const auto ira = Read();
    ASSERT_TRUE(ira) << ira.error().answer;
    EXPECT_EQ(Names(*ira), (std::vector<std::string>{"???? ??????", "Maria [work]", "Service ?"}));
}

TEST_F(PhoneBookReadTest, AModemThatAnswersFewerThanAskedOrRefusesEmptyRangesLosesNoEntry) {
    modems_.Control("phonebook-put 1 30 +79990000030 Thirty");
    modems_.Control("phonebook-put 1 250 112 Last");
    for (const char* empty : {"22", "21", "ok"}) {
        modems_.Control(std::string("fault 1 cpbr-empty ") + empty);
        modems_.Control("fault 1 cpbr-limit 1");
        const auto read = Read();
        ASSERT_TRUE(read) << empty << ": " << read.error().answer;
        std::vector<int> indexes;
        for (const PhoneBookEntry& entry : *read) indexes.push_back(entry.index);
        EXPECT_EQ(indexes, (std::vector<int>{1, 2, 5, 30, 250})) << empty;
    }
}

TEST_F(PhoneBookReadTest, ASimWithoutAPhoneBookIsSaidAndTheCharacterSetIsChosenAgain) {
    modems_.Control("fault 1 phone-book missing");
    const auto read = Read();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, PhoneBookError::Kind::NoPhoneBook);
    EXPECT_EQ(read.error().answer, "+CME ERROR: 4");
    EXPECT_TRUE(PhoneBookTraffic().ends_with("AT+CSCS=\"GSM\"\r")) << PhoneBookTraffic();
}

TEST_F(PhoneBookReadTest, AnUnreadableEntryInAnyChunkFailsTheWholeReading) {
    modems_.Control("phonebook-put 1 30 +79990000030 Thirty");
    // Entries come in chunks of 20 from after the last one read: 1-20, 6-25, 26-45.
    modems_.Control("fault 1 unsolicited-before AT+CPBR=2 +CPBR: 25,\"1\",,\"x\"");
    const auto read = Read();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, PhoneBookError::Kind::Malformed);
    EXPECT_EQ(read.error().answer, "+CPBR: 25,\"1\",,\"x\"");
}

TEST_F(PhoneBookReadTest, AModemWithoutAKnownCharacterSetIsSaid) {
    modems_.Control("fault 1 charsets HEX");
    modems_.Control("fault 1 error AT+CSCS=\"HEX\"");
    const auto read = Read();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, PhoneBookError::Kind::NoCharset);
}

TEST_F(PhoneBookReadTest, ASilentModemAndAMissingSimAreToldApart) {
    modems_.Control("fault 1 sim missing");
    const auto no_sim = Read();
    ASSERT_FALSE(no_sim);
    EXPECT_EQ(no_sim.error().kind, PhoneBookError::Kind::NotReady);
    EXPECT_EQ(session_.Status().state, ModemState::NoSim);
    modems_.Control("fault 1 clear");
    ASSERT_TRUE(Read());
    modems_.Control("fault 1 silent on");
    const auto silent = Read();
    ASSERT_FALSE(silent);
    EXPECT_EQ(silent.error().kind, PhoneBookError::Kind::Silent);
}

TEST_F(PhoneBookReadTest, AModemThatFallsSilentInTheMiddleFailsTheReading) {
    modems_.Control("phonebook-put 1 30 +79990000030 Thirty");
    session_.SetListingIdleLimit(std::chrono::milliseconds(500));
    modems_.Control("fault 1 hang AT+CPBR=2");
    const auto read = Read();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, PhoneBookError::Kind::Silent);
    EXPECT_EQ(session_.Settle(), Session::Conduct::Silent);
}

// Closing the window sets the stop signal: a reading the modem holds up ends then,
// not at its 30 s bound.
TEST_F(PhoneBookReadTest, TheStopSignalEndsAReadingTheModemHoldsUp) {
    modems_.Control("fault 1 hang AT+CPBR=1,");
    std::thread closer([&] {
        EXPECT_TRUE(testing::Eventually(
            [&] { return modems_.Written(1).find("AT+CPBR=1,") != std::string::npos; }));
        stop_.Set();
    });
    const auto read = Read();
    closer.join();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, PhoneBookError::Kind::Stopped);
    EXPECT_EQ(Count(modems_.Written(1), "AT+CSCS=\"GSM\""), 0u);  // nothing more was said
}

}  // namespace
}  // namespace velka::modem
