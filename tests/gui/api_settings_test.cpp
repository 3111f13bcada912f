// The HTTP API in the window: its settings and token in the settings dialog, kept in
// [Gateway] and api-token.txt, and the window serving it when started with it on.
#include <httplib.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "gateway/api_token.h"
#include "gateway/gateway_settings.h"
#include "platform/files.h"
#include "tests/gui/main_form_fixture.h"

namespace velka::gui::testing {
namespace {

class ApiSettingsTest : public MainFormTest {
  protected:
    std::string Ini() const { return home_.File("Config.ini"); }
    template <typename T>
    static T* In(QDialog& form, const char* name) {
        T* found = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void Options(const std::function<int(QDialog&)>& script) {
        dialogs_.AnswerForm(script);
        Find<QToolButton>("qmOptions")->click();
    }
    std::string KeptToken() {
        const auto text = files::ReadAll(home_.File(gateway::kTokenFile));
        return text ? text->substr(0, 2 * gateway::kTokenBytes) : std::string();
    }
};

TEST_F(ApiSettingsTest, TheDialogShowsAndRenewsTheTokenAndKeepsTheSettingsInTheirOwnSection) {
    Window().show();
    Options([&](QDialog& form) -> int {
        EXPECT_FALSE(In<QCheckBox>(form, "GatewayCheck")->isChecked());
        EXPECT_EQ(In<QLineEdit>(form, "GatewayAddressEdit")->text(), "127.0.0.1");
        EXPECT_EQ(In<QSpinBox>(form, "GatewayPortBox")->value(), gateway::kDefaultPort);
        QLineEdit* token = In<QLineEdit>(form, "GatewayTokenEdit");
        const QString first = token->text();
        EXPECT_EQ(first.toStdString(), KeptToken());
        In<QPushButton>(form, "GatewayRenewBtn")->click();
        EXPECT_NE(token->text(), first);
        EXPECT_EQ(token->text().toStdString(), KeptToken());
        In<QCheckBox>(form, "GatewayCheck")->setChecked(true);
        In<QSpinBox>(form, "GatewayPortBox")->setValue(18640);
        return QDialog::Accepted;
    });
    EXPECT_EQ(gateway::ReadGatewaySettings(Ini()),
              (gateway::GatewaySettings{true, "127.0.0.1", 18640}));
}

TEST_F(ApiSettingsTest, AWindowStartedWithTheApiOnServesIt) {
    // A port of this process's own, so that tests run side by side do not meet.
    const int port = 20000 + static_cast<int>(::getpid() % 20000);
    ASSERT_TRUE(gateway::WriteGatewaySettings(Ini(), {true, "127.0.0.1", port}).ok());
    Window().show();
    httplib::Client client("127.0.0.1", port);
    client.set_bearer_token_auth(KeptToken());
    const auto answer = client.Get("/api/v1/status");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    client.set_bearer_token_auth(std::string(64, '0'));
    EXPECT_EQ(client.Get("/api/v1/status")->status, 401);
}

}  // namespace
}  // namespace velka::gui::testing
