// Errands with the modem: run by the worker on its thread, between records and
// while it listens, or on the caller's thread when no worker runs; told why when
// they cannot run.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "app/app_core.h"
#include "platform/codepage.h"
#include "tests/app/config_ini.h"
#include "tests/app/core_fixture.h"

namespace velka::app {
namespace {

using std::chrono::seconds;
using testing::Count;
using testing::Eventually;

// What became of one errand: where it ran and what the session said the modem is,
// or why it did not run.
struct Errand {
    std::optional<std::thread::id> ran_on;
    std::string model;
    std::string failure;
    std::size_t sent_before = 0;  // records the worker had sent when it ran
};

class ErrandTest : public testing::CoreOnModemsTest {
  protected:
    ErrandTest() : CoreOnModemsTest(2) {}

    void Configure(const std::string& port, bool reception) {
        ASSERT_TRUE(testing::WriteModemConfig(home_.File(kConfigFile), port, reception));
    }
    std::future<Errand> Run(AppCore& core) {
        auto promise = std::make_shared<std::promise<Errand>>();
        core.RunOnModem({[this, promise](modem::Session& session) {
                             promise->set_value({std::this_thread::get_id(),
                                                 session.Info().model,
                                                 {},
                                                 outcomes_.CountAll(SendOutcome::Sent)});
                         },
                         [promise](const Error& why) {
                             promise->set_value({std::nullopt, {}, why.message, 0});
                         }});
        return promise->get_future();
    }
    static Errand Await(std::future<Errand>& errand) {
        EXPECT_EQ(errand.wait_for(seconds(30)), std::future_status::ready);
        return errand.get();
    }
    std::uint64_t Queue(const std::string& text) {
        return testing::QueueOne(core_, "+79990000002", text);
    }
};

TEST_F(ErrandTest, TheWorkerRunsAnErrandOnItsThreadBeforeTheRecordsThatWait) {
    // Each message waits a second for its confirmation, so records still wait
    // when the errand is handed over.
    modems_.Control("fault 1 confirm-delay 1000");
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    std::vector<std::uint64_t> ids;
    for (const char* text : {"one", "two", "three"}) ids.push_back(Queue(text));
    ASSERT_TRUE(Eventually([&] { return Count(modems_.Written(1), "AT+CMGS") == 1; }));
    auto errand = Run(core_);
    const Errand done = Await(errand);
    ASSERT_TRUE(done.ran_on.has_value()) << done.failure;
    EXPECT_NE(*done.ran_on, std::this_thread::get_id());
    EXPECT_EQ(done.model, "Virtual GSM Modem");
    EXPECT_LE(done.sent_before, 1u) << "it went before the records that waited";
    ASSERT_TRUE(outcomes_.WaitUntil(
        [&] { return outcomes_.Count(ids.back(), SendOutcome::Sent) == 1; }, seconds(60)));
}

// The worker sleeps on the port for an hour; the errand must end that sleep.
TEST_F(ErrandTest, AnErrandWakesAWorkerListeningForArrivals) {
    Configure(modems_.ComName(1), true);
    core_.SetSafetyPoll(std::chrono::hours(1));
    ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    ASSERT_TRUE(Eventually([&] { return Count(modems_.Written(1), "AT+CMGL") >= 1; }));
    auto errand = Run(core_);
    const Errand done = Await(errand);
    EXPECT_TRUE(done.ran_on.has_value()) << done.failure;
}

TEST_F(ErrandTest, AModemWhoseSimIsNotReadyRefusesTheErrandInRussian) {
    modems_.Control("fault 1 pin 1234");
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    auto errand = Run(core_);
    const Errand done = Await(errand);
    EXPECT_FALSE(done.ran_on.has_value());
    EXPECT_EQ(codepage::ToUtf8(done.failure),
              "Модем не готов (нужен PIN-код), запрос не выполнен.");
}

TEST_F(ErrandTest, AnErrandGivenAfterTheCloseIsRefusedNotLost) {
    Configure(modems_.ComName(1), false);
    ASSERT_TRUE(core_.Start(outcomes_.Events()).ok());
    core_.Shutdown();
    auto errand = Run(core_);
    const Errand done = Await(errand);
    EXPECT_FALSE(done.ran_on.has_value());
    EXPECT_EQ(codepage::ToUtf8(done.failure),
              "Программа закрывается, запрос к модему не выполнен.");
}

TEST_F(ErrandTest, WithoutAWorkerTheErrandRunsOnTheCallersThreadOrSaysWhyNot) {
    AppCore without_port(home_.path());
    auto refused = Run(without_port);
    EXPECT_NE(Await(refused).failure.find("No serial port is set"), std::string::npos);

    Configure(modems_.ComName(1), false);
    AppCore one_shot(home_.path());
    auto errand = Run(one_shot);
    const Errand done = Await(errand);
    ASSERT_TRUE(done.ran_on.has_value()) << done.failure;
    EXPECT_EQ(*done.ran_on, std::this_thread::get_id());

    AppCore second(home_.path());
    auto taken = Run(second);
    EXPECT_NE(Await(taken).failure.find("is driven by"), std::string::npos)
        << "the first core still holds the modem";
}

}  // namespace
}  // namespace velka::app
