// The HTTP API on 127.0.0.1, through the HTTP library's client: the token, the rate,
// every refusal of a bad send (and that it queues nothing), the queue's view and
// removal, a group, and sends followed to "delivered" through the virtual modem.
#include "gateway/api_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <nlohmann/json.hpp>

#include "app/balance.h"
#include "app/queue_file.h"
#include "compose/compose.h"
#include "contacts/contact_book.h"
#include "platform/codepage.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/mutex.h"
#include "store/queue_id_file.h"
#include "store/sent_file.h"
#include "tests/app/config_ini.h"
#include "tests/modem/sim_fixture.h"
#include "tests/support/file_damage.h"
#include "tests/support/temp_dir.h"

namespace velka::gateway {
namespace {

using nlohmann::json;
using testing::Eventually;

const std::string kToken(64, '7');

std::string Repeated(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

class ApiServerTest : public ::testing::Test {
  protected:
    void Serve(int requests_per_second = 1000) {
        server_ = std::make_unique<ApiServer>(
            core_, registry_, ServerOptions{kLoopback, 0, kToken, requests_per_second});
        server_->Observe(events_);
        ASSERT_TRUE(server_->Start().ok());
        client_ = std::make_unique<httplib::Client>(kLoopback, server_->Port());
        client_->set_bearer_token_auth(kToken);
    }
    void TearDown() override {
        if (server_) server_->Stop();
        core_.Shutdown();
    }

    // The status and the body, parsed; status 0 when the request failed.
    std::pair<int, json> Answer(const httplib::Result& result) {
        if (!result) return {0, json()};
        return {result->status, json::parse(result->body, nullptr, false)};
    }
    std::pair<int, json> Post(const std::string& body) {
        return Answer(client_->Post("/api/v1/messages", body, "application/json"));
    }
    std::pair<int, json> Get(const std::string& path) { return Answer(client_->Get(path)); }
    std::size_t Queued() { return core_.QueuedCount().ok() ? *core_.QueuedCount() : 999; }

    // Refused with 400 and `code`, and the queue left with `queued` records.
    void ExpectRefusedLeaving(const std::string& body, const std::string& code,
                              std::size_t queued) {
        SCOPED_TRACE(body.substr(0, 200));
        const auto [status, answer] = Post(body);
        EXPECT_EQ(status, 400);
        EXPECT_EQ(answer["error"]["code"], code);
        EXPECT_FALSE(answer["error"]["message"].get<std::string>().empty());
        EXPECT_FALSE(answer["error"]["message_en"].get<std::string>().empty());
        EXPECT_EQ(Queued(), queued);
    }
    void ExpectRefused(const std::string& body, const std::string& code) {
        ExpectRefusedLeaving(body, code, 0);
    }

    velka::testing::TempDir home_;
    Registry registry_{home_.File("registry.db")};
    app::AppCore core_{home_.path()};
    app::WorkerEvents events_;
    std::unique_ptr<ApiServer> server_;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(ApiServerTest, ARequestWithoutTheTokenIsRefusedAndQueuesNothing) {
    Serve();
    const std::string send = R"({"to": ["+79990000002"], "text": "hi"})";
    httplib::Client bare(kLoopback, server_->Port());
    for (const httplib::Headers& headers :
         {httplib::Headers{}, httplib::Headers{{"Authorization", "Bearer " + kToken.substr(1)}},
          httplib::Headers{{"Authorization", "Bearer " + kToken + "7"}},
          httplib::Headers{{"Authorization", "Basic " + kToken}},
          httplib::Headers{{"Authorization", kToken}}}) {
        const auto [status, answer] =
            Answer(bare.Post("/api/v1/messages", headers, send, "application/json"));
        EXPECT_EQ(status, 401);
        EXPECT_EQ(answer["error"]["code"], "unauthorized");
        EXPECT_EQ(Answer(bare.Get("/api/v1/contacts", headers)).first, 401);
    }
    EXPECT_EQ(Queued(), 0u);
}

TEST_F(ApiServerTest, ARenewedTokenIsRequiredFromTheNextRequestOn) {
    Serve();
    const std::string renewed(64, 'c');
    server_->SetToken(renewed);
    EXPECT_EQ(Get("/api/v1/status").first, 401);
    client_->set_bearer_token_auth(renewed);
    EXPECT_EQ(Get("/api/v1/status").first, 200);
}

TEST_F(ApiServerTest, EveryBadSendIsRefusedWithWhatIsWrongAndQueuesNothing) {
    Serve();
    ExpectRefused("{\"to\": [\"+79990000002\"], \"text\": ", "malformed_json");
    ExpectRefused("[1, 2]", "malformed_json");
    ExpectRefused(R"({"to": ["+79990000002"]})", "malformed_json");
    ExpectRefused(R"({"to": ["+79990000002"], "text": 5})", "malformed_json");
    ExpectRefused(R"({"to": ["+79990000002", 7], "text": "hi"})", "malformed_json");
    ExpectRefused("{\"to\": [\"+79990000002\"], \"text\": \"\xC0\xFF\"}", "malformed_json");
    ExpectRefused(R"({"text": "hi"})", "no_recipients");
    ExpectRefused(R"({"to": [], "text": "hi"})", "no_recipients");
    ExpectRefused(R"({"to": "+79990000002", "text": "hi"})", "no_recipients");
    // One bad number among good ones refuses the whole send.
    ExpectRefused(R"({"to": ["+79990000002", "+7999abc"], "text": "hi"})", "bad_number");
    ExpectRefused(R"({"to": [""], "text": "hi"})", "bad_number");
    ExpectRefused(R"({"to": ["+123456789012345678901"], "text": "hi"})", "bad_number");
    ExpectRefused(R"({"to": ["#Нет такой"], "text": "hi"})", "unknown_group");
    ExpectRefused(R"({"to": ["+79990000002"], "text": ""})", "empty_text");
    ExpectRefused(R"({"to": ["+79990000002"], "text": ")" + std::string(1025, 'x') + "\"}",
                  "text_too_long");
    ExpectRefused(R"({"to": ["+79990000002"], "text": ")" + Repeated("ж", 1025) + "\"}",
                  "text_too_long");
    ExpectRefused(R"({"to": ["+79990000002"], "text": "hi", "via": 5})", "bad_via");
    ExpectRefused(R"({"to": ["+79990000002"], "text": "hi", "via": ""})", "bad_via");
    ExpectRefused(
        R"({"to": ["+79990000002"], "text": "hi", "via": ")" + std::string(41, '7') + "\"}",
        "bad_via");
    ExpectRefused(R"({"to": ["+79990000002"], "text": "hi", "pad": ")" +
                      std::string(kMaxBodyBytes, ' ') + "\"}",
                  "body_too_large");
    // Beyond what the library reads at all.
    ExpectRefused(std::string(kMaxBodyBytes * 8, ' '), "body_too_large");
}

TEST_F(ApiServerTest, ASendIsInTheQueueFileWhenAnswered) {
    Serve();
    const auto [status, answer] = Post(
        R"({"to": ["+79990000002", "89990000003", "+79990000002"], "text": "line one\nline two"})");
    ASSERT_EQ(status, 202);
    ASSERT_EQ(answer["messages"].size(), 2u);  // the repeated number once
    EXPECT_EQ(answer["messages"][1]["to"], "89990000003");
    // A fresh core over the same directory reads what the answer promised.
    app::AppCore reader(home_.path());
    EXPECT_EQ(*reader.QueuedCount(), 2u);
    const std::string id = answer["messages"][0]["id"];
    EXPECT_EQ(Get("/api/v1/messages/" + id).second["state"], "queued");
    EXPECT_EQ(Get("/api/v1/status").second["queue"]["waiting"], 2);

    // A modem named for them goes with the records, for the pool to honour.
    ASSERT_EQ(Post(R"({"to": ["+79990000004"], "text": "hi", "via": "Склад"})").first, 202);
    app::QueueFile file(home_.File(app::kQueueFile));
    const auto loaded = file.Load();
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->records.size(), 3u);
    EXPECT_EQ(loaded->records[2].route, (app::Route{codepage::FromUtf8("Склад"), true}));
    EXPECT_EQ(loaded->records[0].route, app::Route{});
}

TEST_F(ApiServerTest, BadIdsAndQueriesAreRefusedAndUnknownOnesNotFound) {
    Serve();
    EXPECT_EQ(Get("/api/v1/messages/12ab").second["error"]["code"], "bad_id");
    EXPECT_EQ(Get("/api/v1/messages/99999999999999999999").second["error"]["code"], "bad_id");
    EXPECT_EQ(Get("/api/v1/messages/0").second["error"]["code"], "bad_id");
    EXPECT_EQ(Get("/api/v1/messages/12345").second["error"]["code"], "not_found");
    EXPECT_EQ(Answer(client_->Delete("/api/v1/queue/x1")).second["error"]["code"], "bad_id");
    EXPECT_EQ(Get("/api/v1/inbox?limit=0").second["error"]["code"], "bad_query");
    EXPECT_EQ(Get("/api/v1/inbox?limit=100000").second["error"]["code"], "bad_query");
    EXPECT_EQ(Get("/api/v1/outbox?after=-1").second["error"]["code"], "bad_query");
    EXPECT_EQ(Get("/api/v1/nothing").second["error"]["code"], "not_found");
    EXPECT_EQ(Get("/api/v1/inbox").second["messages"], json::array());
}

TEST_F(ApiServerTest, AGroupSendsToEachOfItsContacts) {
    const contacts::ContactBook book(registry_);
    const std::string group = codepage::FromUtf8("Склад");
    ASSERT_TRUE(book.WriteContact({codepage::FromUtf8("Иван"), "+79990000002", group}).ok());
    ASSERT_TRUE(book.WriteContact({"Olga", "+79990000003", group}).ok());
    Serve();
    const auto [status, answer] = Post(R"({"to": ["#склад", "+79990000004"], "text": "hi"})");
    ASSERT_EQ(status, 202);
    EXPECT_EQ(answer["messages"].size(), 3u);
    EXPECT_EQ(Queued(), 3u);
    // "#" alone names no group; it must not reach the whole book.
    ExpectRefusedLeaving(R"({"to": ["#"], "text": "hi"})", "unknown_group", 3);
    const json contacts = Get("/api/v1/contacts").second["contacts"];
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[0]["group"], "Склад");
}

TEST_F(ApiServerTest, AClientOverItsRateIsToldToWaitWhateverItsToken) {
    Serve(5);
    httplib::Client stranger(kLoopback, server_->Port());
    int refused = 0;
    int throttled = 0;
    // Fifteen requests from one address take far less than two seconds; whichever
    // second boundary they straddle, at most ten can pass, so some are refused. The
    // stranger's that pass the rate are refused for their missing token.
    for (int i = 0; i < 15; ++i) {
        const int status =
            Answer(i % 2 ? stranger.Get("/api/v1/status") : client_->Get("/api/v1/status")).first;
        refused += status == 401;
        throttled += status == 429;
    }
    EXPECT_GT(throttled, 0);
    EXPECT_GT(refused, 0);
}

class ApiServerModemTest : public ApiServerTest {
  protected:
    ApiServerModemTest() : modems_(2) {}
    void StartModem() {
        modems_.Control("fault 1 reports sm");
        ASSERT_TRUE(velka::testing::WriteModemConfig(home_.File(app::kConfigFile),
                                                     modems_.ComName(1), true));
        core_.SetSafetyPoll(std::chrono::milliseconds(200));
        ASSERT_TRUE(core_.Start(events_).ok());
        core_.SetDeliveryReportsEnabled(true);
    }
    std::string StateOf(const std::string& id) {
        return Get("/api/v1/messages/" + id).second.value("state", "");
    }

    velka::testing::SimModems modems_;
};

TEST_F(ApiServerModemTest, ASendIsFollowedToDeliveredAndListedWholeInTheOutbox) {
    Serve();
    StartModem();
    const auto [status, answer] = Post(R"({"to": ["+79990000002"], "text": "Привет 👍"})");
    ASSERT_EQ(status, 202);
    const std::string id = answer["messages"][0]["id"];
    ASSERT_TRUE(Eventually([&] { return StateOf(id) == "delivered"; }, std::chrono::seconds(60)))
        << Get("/api/v1/messages/" + id).second.dump();
    EXPECT_FALSE(Get("/api/v1/messages/" + id).second["delivered_at"].get<std::string>().empty());

    const json outbox = Get("/api/v1/outbox").second;
    ASSERT_EQ(outbox["messages"].size(), 1u);
    EXPECT_EQ(outbox["messages"][0]["text"], "Привет 👍");
    EXPECT_EQ(outbox["messages"][0]["number"], "+79990000002");
    EXPECT_TRUE(Get("/api/v1/outbox?after=1").second["messages"].empty());

    const json modem = Get("/api/v1/status").second["modem"];
    EXPECT_EQ(modem["ready"], true);
    EXPECT_EQ(modem["operator"], "Velka Net");
    EXPECT_EQ(modem["port"], modems_.ComName(1));
}

TEST_F(ApiServerModemTest, ARefusedSendShowsTheModemsReasonAndIsRemovedAsInTheQueueView) {
    Serve();
    modems_.Control("fault 1 send-error 500");
    StartModem();
    const std::string id =
        Post(R"({"to": ["+79990000002"], "text": "refused"})").second["messages"][0]["id"];
    ASSERT_TRUE(Eventually([&] {
        return Get("/api/v1/messages/" + id).second.value("last_error", "").find("500") !=
               std::string::npos;
    }));
    EXPECT_EQ(StateOf(id), "queued");
    const auto removed = Answer(client_->Delete("/api/v1/queue/" + id));
    EXPECT_EQ(removed.first, 200);
    EXPECT_EQ(Queued(), 0u);
    EXPECT_EQ(Answer(client_->Delete("/api/v1/queue/" + id)).second["error"]["code"], "not_found");
    EXPECT_EQ(Get("/api/v1/messages/" + id).first, 404);
}

// A fresh core and server over the program directory `home` (after the fixture's
// stopped, as at the end of a run), whose log lines are kept.
class RestartedApi {
  public:
    RestartedApi(const std::string& home, Registry& registry) : core_(home) {
        ServerOptions options{kLoopback, 0, kToken, 1000};
        options.log = [this](const std::string& line) {
            MutexLock guard(lock_);
            log_.push_back(line);
        };
        server_ = std::make_unique<ApiServer>(core_, registry, options);
        EXPECT_TRUE(server_->Start().ok());
        client_ = std::make_unique<httplib::Client>(kLoopback, server_->Port());
        client_->set_bearer_token_auth(kToken);
    }
    ~RestartedApi() { server_->Stop(); }

    std::pair<int, json> Get(const std::string& id) { return GetPath("/api/v1/messages/" + id); }
    std::pair<int, json> GetPath(const std::string& path) {
        const auto result = client_->Get(path);
        if (!result) return {0, json()};
        return {result->status, json::parse(result->body, nullptr, false)};
    }
    std::vector<std::string> Log() {
        MutexLock guard(lock_);
        return log_;
    }

  private:
    app::AppCore core_;
    std::unique_ptr<ApiServer> server_;
    std::unique_ptr<httplib::Client> client_;
    Mutex lock_;
    std::vector<std::string> log_ GUARDED_BY(lock_);
};

TEST_F(ApiServerModemTest, ARecordIsFoundByItsIdAfterARestartWhoeverQueuedIt) {
    Serve();
    StartModem();
    const std::string by_api =
        Post(R"({"to": ["+79990000002"], "text": "from the API"})").second["messages"][0]["id"];
    // Queued as the window and the command line queue: not through this server.
    const std::vector<packet> records = {
        compose::MakeOutgoingRecord("+79990000002", NowLocal(), "from the window"),
        compose::MakeOutgoingRecord("", NowLocal(), "to nobody")};
    const auto ids = core_.Enqueue(records, {});
    ASSERT_TRUE(ids.ok());
    const std::string by_window = std::to_string((*ids)[0]);
    const std::string unsendable = std::to_string((*ids)[1]);
    ASSERT_TRUE(Eventually(
        [&] { return StateOf(by_api) == "delivered" && StateOf(by_window) == "delivered"; },
        std::chrono::seconds(60)));
    server_->Stop();
    core_.Shutdown();

    RestartedApi restarted(home_.path(), registry_);
    for (const std::string& id : {by_api, by_window}) {
        const auto [status, answer] = restarted.Get(id);
        EXPECT_EQ(status, 200);
        EXPECT_EQ(answer["state"], "delivered") << answer.dump();
        EXPECT_EQ(answer["to"], "+79990000002");
        EXPECT_FALSE(answer.value("delivered_at", "").empty());
    }
    const auto [status, answer] = restarted.Get(unsendable);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(answer["state"], "failed");
    EXPECT_EQ(restarted.Get("12345").first, 404);
    EXPECT_TRUE(restarted.Log().empty());
}

TEST_F(ApiServerModemTest, DamagedSideFilesCostTheAnswersDetailNeverItsTruth) {
    Serve();
    StartModem();
    std::vector<std::string> ids;
    for (const char* text : {"first", "second"})
        ids.push_back(Post(std::string(R"({"to": ["+79990000002"], "text": ")") + text + "\"}")
                          .second["messages"][0]["id"]);
    ASSERT_TRUE(
        Eventually([&] { return StateOf(ids[0]) == "delivered" && StateOf(ids[1]) == "delivered"; },
                   std::chrono::seconds(60)));
    server_->Stop();
    core_.Shutdown();

    // The first record's id entry damaged: that record is not found, the second is.
    const std::string id_file = store::QueueIdPathFor(home_.File(app::kOutboxFile));
    velka::testing::FlipByteAt(id_file, 9);
    // The states file unreadable: "sent", without a delivery state.
    const std::string states = store::SentPathFor(home_.File(app::kOutboxFile));
    ASSERT_TRUE(files::SaveDurably(states, std::string(30, 'x')).ok());

    RestartedApi restarted(home_.path(), registry_);
    EXPECT_EQ(restarted.Get(ids[0]).first, 404);
    const auto [status, answer] = restarted.Get(ids[1]);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(answer["state"], "sent") << answer.dump();
    EXPECT_FALSE(answer.contains("delivered_at"));
    const std::vector<std::string> log = restarted.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.front().find("queue-ids"), std::string::npos) << log.front();
}

TEST_F(ApiServerTest, TheStatusGivesTheLastBalanceReadOnceThereIsOne) {
    const std::string balance = home_.File(app::kBalanceFile);
    RestartedApi api(home_.path(), registry_);
    EXPECT_FALSE(api.GetPath("/api/v1/status").second.contains("balance"));

    ASSERT_TRUE(app::SaveBalanceReading(balance,
                                        {"*100#", "09.12.2026 21:30:00", 57.1, u"Баланс: 57,10 р."})
                    .ok());
    const json read = api.GetPath("/api/v1/status").second["balance"];
    EXPECT_EQ(read["amount"], 57.1);
    EXPECT_EQ(read["text"], "Баланс: 57,10 р.");
    EXPECT_EQ(read["code"], "*100#");
    EXPECT_EQ(read["read_at"], "09.12.2026 21:30:00");

    ASSERT_TRUE(app::SaveBalanceReading(
                    balance, {"*100#", "09.12.2026 21:31:00", std::nullopt, u"Сервис недоступен"})
                    .ok());
    EXPECT_TRUE(api.GetPath("/api/v1/status").second["balance"]["amount"].is_null());

    // Not the program's: the rest of the status still answers, and the log says why.
    ASSERT_TRUE(files::SaveDurably(balance, "[1, 2").ok());
    const auto [status, answer] = api.GetPath("/api/v1/status");
    EXPECT_EQ(status, 200);
    EXPECT_FALSE(answer.contains("balance"));
    EXPECT_TRUE(answer.contains("modem"));
    ASSERT_EQ(api.Log().size(), 1u);
    EXPECT_NE(api.Log()[0].find("balance.json"), std::string::npos);
}

}  // namespace
}  // namespace velka::gateway
