// New-message announcements: the AT+CNMI form asked for, what each kind of modem
// makes of it, and announcements that come in the middle of other answers.
#include <gtest/gtest.h>

#include <thread>

#include "modem/dialogue.h"
#include "modem/indications.h"
#include "tests/modem/sim_fixture.h"

namespace velka::modem {
namespace {

using testing::Count;
using testing::SimModems;

Answer TestAnswer(std::string line) {
    return Answer{Outcome::Ok, {std::move(line)}, "OK"};
}

TEST(AnnouncementCommand, TheClosestFormTheModemOffersIsAskedFor) {
    const struct {
        const char* offered;
        const char* asked;
    } cases[] = {
        {"+CNMI: (0-3),(0-3),(0-3),(0-2),(0-1)", "AT+CNMI=2,1,0,2,0"},
        {"+CNMI: (0-2),(0-1),(0),(0),(0)", "AT+CNMI=2,1,0,0,0"},
        {"+CNMI: (1),(0,1),(0,2),(0,1),(0,1)", "AT+CNMI=1,1,0,1,0"},
        {"+CNMI: (3),(1),(2),(0),(1)", "AT+CNMI=3,1,2,0,1"},
        {"+CNMI: (0-2),(0-3)", "AT+CNMI=2,1"},
        {"+cnmi: (0-2), (0-1), (0), (0-2), (0)", "AT+CNMI=2,1,0,2,0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AnnouncementCommandFor(TestAnswer(c.offered)),
                  std::optional<std::string>(c.asked))
            << c.offered;
    }
}

TEST(AnnouncementCommand, AModemThatCannotAnnounceIsPolled) {
    for (const char* offered : {
             "+CNMI: (0),(0-1),(0),(0),(0)",  // no mode forwards indications
             "+CNMI: (0-2),(0),(0),(0),(0)",  // no "+CMTI" for stored messages
             "+CNMI: (0-2),(0,2,3),(0),(0)",  // direct deliveries only
             "+CNMI: (0-2",                   // cut off
             "+CNMI: (a-b),(0-1)",            // unreadable
             "+CNMI: (2-0),(1)",              // a range that runs backwards
             "+CNMI: (0-99999999999),(1)",    // a number past int
             "+CNMI: 2,1,0,0,0",              // the query's answer, not the test's
             "RING",                          // no +CNMI line at all
         }) {
        EXPECT_EQ(AnnouncementCommandFor(TestAnswer(offered)), std::nullopt) << offered;
    }
    EXPECT_EQ(AnnouncementCommandFor(Answer{Outcome::Error, {}, "ERROR"}), std::nullopt);
    EXPECT_EQ(AnnouncementCommandFor(Answer{}), std::nullopt) << "a silent modem";
}

class AnnouncementTest : public ::testing::Test {
  protected:
    AnnouncementTest() : modems_(1) {
        ConfigurePort(port_);
        port_.SetStopFlag(&stop_);
        port_.SetComNumber(modems_.ComNumber(1));
    }
    ~AnnouncementTest() override { port_.SetOpen(false); }

    bool Init() { return InitModem(port_, stop_, context_); }
    void Inject(const std::string& text) { modems_.Control("inject 1 +79161234567 " + text); }

    SimModems modems_;
    TComPort port_;
    StopSignal stop_;
    StopSignal wake_;
    ModemContext context_;
};

TEST_F(AnnouncementTest, AModemOfferingANarrowerRangeIsAskedForWhatItOffers) {
    modems_.Control("fault 1 cnmi narrow");
    ASSERT_TRUE(Init());
    EXPECT_EQ(context_.announcing, std::optional<bool>(true));
    EXPECT_EQ(Count(modems_.Written(1), "AT+CNMI=2,1,0,0,0\r"), 1u);
}

TEST_F(AnnouncementTest, AModemRefusingAtPlusCnmiIsStillReadyAndNotAnnouncing) {
    modems_.Control("fault 1 cnmi refuse");
    ASSERT_TRUE(Init());
    EXPECT_EQ(context_.announcing, std::optional<bool>(false));
    EXPECT_EQ(Count(modems_.Written(1), "AT+CNMI"), 1u) << "only the test form was tried";
}

TEST_F(AnnouncementTest, TheModemIsAskedOncePerOpening) {
    ASSERT_TRUE(Init());
    ASSERT_TRUE(Init());
    EXPECT_EQ(Count(modems_.Written(1), "AT+CNMI=?"), 1u);
    ClosePort(port_);
    ASSERT_TRUE(Init());
    EXPECT_EQ(Count(modems_.Written(1), "AT+CNMI=?"), 2u) << "a modem opened afresh may have reset";
}

TEST_F(AnnouncementTest, AnAnnouncementInsideAnotherAnswerIsNotedAndLeftOutOfIt) {
    ASSERT_TRUE(Init());
    modems_.Control("fault 1 announce-inside on");
    Inject("inside");
    AnswerReader reader(port_, stop_, context_);
    const Answer answer = RunCommand(port_, reader, "AT+CSQ");
    EXPECT_EQ(answer.outcome, Outcome::Ok);
    EXPECT_EQ(answer.lines, std::vector<std::string>{"+CSQ: 20,99"});
    EXPECT_TRUE(context_.announced);
}

TEST_F(AnnouncementTest, AnAnnouncementWhileASendWaitsForItsPromptIsNoted) {
    ASSERT_TRUE(Init());
    modems_.Control("unsolicited 1 +CDSI: \"SM\",3");  // waits in the input for the prompt's reader
    AnswerReader reader(port_, stop_, context_);
    ASSERT_TRUE(WriteCommand(port_, "AT+CMGS=16"));
    EXPECT_EQ(reader.AwaitPrompt(DeadlineIn(kCommandTicks)), Outcome::Ok);
    EXPECT_TRUE(context_.announced);
    port_.PutString("\x1B");  // abandons the message
}

// Announcements name whichever memory the modem keeps things in.
TEST_F(AnnouncementTest, AnnouncementsNamingAnyMemoryAreNoted) {
    ASSERT_TRUE(Init());
    for (const char* line : {"+CMTI: \"MT\",0", "+CMTI: \"ME\",15", "+CDSI: \"SR\",1"}) {
        context_.announced = false;
        modems_.Control(std::string("unsolicited 1 ") + line);
        Listen(port_, stop_, wake_, Clock::now() + std::chrono::minutes(1), context_);
        EXPECT_TRUE(context_.announced) << line;
    }
}

TEST_F(AnnouncementTest, ListeningEndsOnAnAnnouncementAndNotesIt) {
    ASSERT_TRUE(Init());
    context_.announced = false;
    std::thread arrival([&] { Inject("while listening"); });
    const auto deadline = Clock::now() + std::chrono::minutes(1);
    Listen(port_, stop_, wake_, deadline, context_);
    arrival.join();
    // A listen that ended on its deadline would have noted nothing.
    EXPECT_TRUE(context_.announced);
    EXPECT_FALSE(context_.silent);
}

TEST_F(AnnouncementTest, ListeningEndsWhenWokenAndHearsNothing) {
    ASSERT_TRUE(Init());
    context_.announced = false;
    std::thread waker([&] {
        testing::Eventually([&] { return wake_.Sleepers() > 0; });
        wake_.Set();
    });
    const auto deadline = Clock::now() + std::chrono::minutes(10);
    Listen(port_, stop_, wake_, deadline, context_);
    waker.join();
    EXPECT_LT(Clock::now(), deadline) << "the wake, not the deadline, ended it";
    EXPECT_FALSE(context_.announced);
    EXPECT_FALSE(context_.silent) << "a wake is no silence";
    EXPECT_EQ(Count(modems_.Written(1), "AT+CSQ"), 1u) << "listening sends nothing";
}

}  // namespace
}  // namespace velka::modem
