// The settings dialog's list of the pool's modems: what it shows of Config.ini, and
// what adding, removing and switching modems writes for the next start.
#include <QDialog>
#include <QGroupBox>
#include <QPushButton>
#include <QTableWidget>

#include "platform/files.h"
#include "platform/profile.h"
#include "settings/pool_settings.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/gui/named_child.h"

namespace velka::gui::testing {
namespace {

constexpr int kSends = 1;
constexpr int kReceives = 2;

class ModemPoolForm : public MainFormTest {
  protected:
    std::string Ini() const { return home_.File("Config.ini"); }
    void Configure(const std::string& text) { ASSERT_TRUE(files::SaveDurably(Ini(), text)); }
    void Options(const std::function<int(QDialog&)>& script) {
        dialogs_.AnswerForm(script);
        Find<QToolButton>("qmOptions")->click();
    }
    std::vector<settings::PoolModem> StoredPool(std::int32_t first_port) {
        const auto pool = settings::ReadPoolModems(Ini(), first_port);
        EXPECT_TRUE(pool) << pool.error().message;
        return pool ? *pool : std::vector<settings::PoolModem>{};
    }
    static QTableWidget* Table(QDialog& form) { return In<QTableWidget>(form, "PoolTable"); }
    static QComboBox* PortBoxOf(QDialog& form, int row) {
        return qobject_cast<QComboBox*>(Table(form)->cellWidget(row, 0));
    }
    // The first row shows the port field's port; the later ones have boxes of their own.
    static QString PortOf(QDialog& form, int row) {
        return row == 0 ? Table(form)->item(0, 0)->text() : PortBoxOf(form, row)->currentText();
    }
    static bool On(QDialog& form, int row, int column) {
        return Table(form)->item(row, column)->checkState() == Qt::Checked;
    }
    static void Switch(QDialog& form, int row, int column, bool on) {
        Table(form)->item(row, column)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    static void Click(QDialog& form, const char* button) { In<QPushButton>(form, button)->click(); }
};

TEST_F(ModemPoolForm, ShowsThePoolOfConfigIniAndTheCloseBoxWritesNothing) {
    Configure(
        "[DEVICEMAP]\r\nSerialPort=COM3\r\n[Modem 1]\r\nReceive=0\r\n"
        "[Modem 2]\r\nSerialPort=COM5\r\n[Modem 3]\r\nSerialPort=COM7\r\nSend=0\r\n");
    const std::string before = files::ReadAll(Ini()).value();
    Window().show();
    Options([&](QDialog& form) -> int {
        EXPECT_EQ(In<QGroupBox>(form, "PoolGroup")->title(), "Модемы");
        EXPECT_EQ(In<QLabel>(form, "PoolNoteLabel")->text(),
                  "Изменения списка модемов вступят в силу при следующем запуске.");
        QTableWidget* table = Table(form);
        EXPECT_EQ(table->rowCount(), 3);
        if (table->rowCount() != 3) return QDialog::Rejected;
        EXPECT_EQ(PortOf(form, 0), "COM3");
        EXPECT_EQ(PortOf(form, 1), "COM5");
        EXPECT_EQ(PortOf(form, 2), "COM7");
        EXPECT_TRUE(On(form, 0, kSends));
        EXPECT_FALSE(On(form, 0, kReceives));
        EXPECT_FALSE(On(form, 2, kSends));
        EXPECT_TRUE(On(form, 2, kReceives));
        // The first modem is the port field's: its row follows the field and stays.
        In<QComboBox>(form, "PortBox")->setEditText("COM4");
        EXPECT_EQ(PortOf(form, 0), "COM4");
        table->setCurrentCell(0, 0);
        EXPECT_FALSE(In<QPushButton>(form, "PoolRemoveBtn")->isEnabled());
        while (In<QPushButton>(form, "PoolAddBtn")->isEnabled()) Click(form, "PoolAddBtn");
        EXPECT_EQ(table->rowCount(), settings::kMostModems);
        return QDialog::Rejected;
    });
    EXPECT_EQ(files::ReadAll(Ini()).value(), before);
    EXPECT_TRUE(dialogs_.Messages().empty());
}

TEST_F(ModemPoolForm, AddedRemovedAndSwitchedModemsAreWrittenForTheNextStart) {
    Configure(
        "[DEVICEMAP]\r\nSerialPort=COM3\r\n[Modem 1]\r\nReceive=0\r\n"
        "[Modem 2]\r\nSerialPort=COM5\r\n[Modem 3]\r\nSerialPort=COM7\r\nSend=0\r\n");
    Window().show();
    dialogs_.NameNextScreenshot("settings-modems");
    Options([&](QDialog& form) -> int {
        Table(form)->setCurrentCell(1, 0);
        Click(form, "PoolRemoveBtn");
        EXPECT_EQ(PortOf(form, 1), "COM7");
        Click(form, "PoolAddBtn");
        PortBoxOf(form, 2)->setEditText("COM9");
        Switch(form, 2, kReceives, false);
        Switch(form, 0, kReceives, true);
        Click(form, "ApplyBtn");
        return form.result();
    });
    EXPECT_TRUE(dialogs_.Messages().empty());
    EXPECT_EQ(StoredPool(3), (std::vector<settings::PoolModem>{
                                 {3, true, true}, {7, false, true}, {9, true, false}}));
    EXPECT_EQ(core_.PortNumber(), 3) << "the pool in use stays until the next start";
}

TEST_F(ModemPoolForm, APortNamedTwiceIsRefusedAndTheDialogStaysOpenToMendIt) {
    Configure("[DEVICEMAP]\r\nSerialPort=COM3\r\n");
    Window().show();
    Options([&](QDialog& form) -> int {
        Click(form, "PoolAddBtn");
        PortBoxOf(form, 1)->setEditText("COM3");
        Click(form, "ApplyBtn");
        EXPECT_EQ(form.result(), QDialog::Rejected) << "not closed";
        EXPECT_EQ(StoredPool(3), (std::vector<settings::PoolModem>{{3, true, true}}));
        PortBoxOf(form, 1)->setEditText("COM6");
        Click(form, "ApplyBtn");
        return form.result();
    });
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Warning);
    EXPECT_EQ(dialogs_.Messages()[0].text,
              "Порт COM3 указан у модемов 1 и 2: у каждого модема должен быть свой порт.");
    EXPECT_EQ(StoredPool(3), (std::vector<settings::PoolModem>{{3, true, true}, {6, true, true}}));
    EXPECT_EQ(profile::ReadString(Ini(), "Modem 1", "Send", "<missing>"), "<missing>")
        << "the first modem's switches, left on, add no section";
}

}  // namespace
}  // namespace velka::gui::testing
