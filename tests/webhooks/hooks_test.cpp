// The hooks as the user sets them: Config.ini's [Webhooks] with the secrets kept
// apart, what the journal may drop, and the status bar's line.
#include "webhooks/hooks.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "webhooks/event_journal.h"

namespace velka::webhooks {
namespace {

TEST(WebhookHooks, AreReadWithTheirEventsAndSecretsAndAnAddressThatIsNoUrlIsLeftOut) {
    velka::testing::TempDir dir;
    const std::string config = dir.File("Config.ini");
    const std::string secrets = dir.File("webhooks-secrets.ini");
    ASSERT_TRUE(files::SaveDurably(config,
                                   "[DEVICEMAP]\r\nSerialPort=COM5\r\n"
                                   "[Webhooks]\r\nUrl1=http://127.0.0.1:8080/sms\r\n"
                                   "Events1=sms:received  sms:delivered\r\n"
                                   "Url2=ftp://example.org/\r\n"
                                   "Url3=https://example.org/hook\r\nEvents3=*\r\n")
                    .ok());
    ASSERT_TRUE(files::SaveDurably(secrets, "[Secrets]\r\nSecret1=abc\r\n").ok());

    const std::vector<Hook> hooks = ReadHooks(config, secrets);
    ASSERT_EQ(hooks.size(), 2u);
    EXPECT_EQ(hooks[0].url, "http://127.0.0.1:8080/sms");
    EXPECT_EQ(hooks[0].events, (std::vector<std::string>{"sms:received", "sms:delivered"}));
    EXPECT_EQ(hooks[0].secret, "abc");
    EXPECT_TRUE(hooks[0].Wants("sms:delivered"));
    EXPECT_FALSE(hooks[0].Wants("sms:sent"));
    EXPECT_EQ(hooks[1].url, "https://example.org/hook");
    EXPECT_TRUE(hooks[1].Wants("modem:state"));
    EXPECT_EQ(hooks[1].secret, "");
}

TEST(WebhookHooks, AnEventIsDoneWithWhenEveryHookThatWantsItHasItAndAlwaysWithNoHooks) {
    const std::vector<Hook> hooks = {{"http://a/", {"sms:sent"}, "", HookKey("http://a/")},
                                     {"http://b/", {}, "", HookKey("http://b/")}};
    StoredEvent stored{{1, 0, "sms:received", "{}"}, {}};
    EXPECT_FALSE(EveryHookDone(hooks, stored));
    stored.done[HookKey("http://b/")] = HookOutcome::GivenUp;
    EXPECT_TRUE(EveryHookDone(hooks, stored)) << "http://a/ does not want it";
    stored.event.name = "sms:sent";
    EXPECT_FALSE(EveryHookDone(hooks, stored));
    EXPECT_TRUE(EveryHookDone({}, stored));
}

TEST(WebhookHooks, TheStatusLineNamesEveryFailingHookInRussian) {
    EXPECT_EQ(FailingHooksLine({}), "");
    EXPECT_EQ(codepage::ToUtf8(FailingHooksLine({"http://a/"})), "Веб-хук не отвечает: http://a/");
    EXPECT_EQ(codepage::ToUtf8(FailingHooksLine({"http://a/", "http://b/"})),
              "Веб-хуки не отвечают: http://a/, http://b/");
}

}  // namespace
}  // namespace velka::webhooks
