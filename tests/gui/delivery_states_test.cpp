// "Отправленные" with delivery states: the state column and the reading pane show
// what the status reports in reports.db say of each sent message.
#include <QApplication>
#include <QHeaderView>
#include <QPlainTextEdit>

#include "gui/box_table_model.h"
#include "modem/status_report.h"
#include "platform/files.h"
#include "store/sent_file.h"
#include "store/store_file.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/support/box_held.h"

namespace velka::gui::testing {
namespace {

class OutboxStates : public MainFormTest {
  protected:
    // A sent record whose one message the modem confirmed under `reference`.
    void Sent(const std::string& number, const std::string& when, const std::string& text_utf8,
              int reference) {
        const std::vector<store::SegmentSent> sent = {{reference, when}};
        ASSERT_TRUE(store::AppendSent(velka::testing::BoxHeld(home_.File("outbox.db")),
                                      home_.File("outbox.db"),
                                      std::vector<packet>{MakePacket(number, when, W(text_utf8))},
                                      std::vector<std::vector<store::SegmentSent>>{sent}));
    }
    void Report(int reference, const std::string& recipient, int status,
                const std::string& discharged) {
        store::StatusReport report;
        report.received = discharged;
        report.reference = reference;
        report.recipient = recipient;
        report.discharged = discharged;
        report.status = status;
        ASSERT_TRUE(store::AppendReports(
            velka::testing::BoxHeld(store::ReportsPathBeside(home_.File("inbox.db"))),
            store::ReportsPathBeside(home_.File("inbox.db")), {report}));
    }
    QString State(int row) { return Cell(MessageTable(), row, BoxTableModel::kState); }
};

TEST_F(OutboxStates, TheColumnAndTheReadingPaneShowEachSentMessagesState) {
    AddStored("Друзья", "+79161234567", "Мария");
    AddStored("Друзья", "+79265556677", "Сергей");
    Sent("+79161234567", "08.12.2026 14:38:12", "Буду через десять минут", 1);
    Sent("+79265556677", "08.12.2026 15:02:40", "Встречаемся завтра в 19:00 у кинотеатра", 2);
    Sent("+79001234567", "08.12.2026 16:10:05", "Спасибо, всё получил", 3);
    Report(1, "+79161234567", 0, "08.12.2026 14:40:01");
    Report(2, "89265556677", 0x45, "08.12.2026 15:30:00");  // the same number, written with 8
    ASSERT_TRUE(store::Save(
        velka::testing::BoxHeld(home_.File("inbox.db")), home_.File("inbox.db"),
        std::vector<packet>{MakePacket("+79161234567", "08.12.2026 14:45:00", W("Жду у входа"))}));
    Window().show();
    Window().qmOutBoxClick();
    ASSERT_EQ(MessageTable()->model()->rowCount(), 3);
    EXPECT_EQ(MessageTable()->model()->headerData(BoxTableModel::kState, Qt::Horizontal),
              "состояние");
    EXPECT_FALSE(MessageTable()->isColumnHidden(BoxTableModel::kState));
    EXPECT_EQ(State(0), "доставлено 08.12.2026 14:40:01");
    EXPECT_EQ(State(1), "не доставлено: нет связи с сетью получателя");
    EXPECT_EQ(State(2), "отправлено") << "no report came";
    EXPECT_TRUE(dialogs_.Messages().empty());
    // At the window's designed size the text keeps a readable share of the width.
    EXPECT_GE(MessageTable()->columnWidth(BoxTableModel::kText),
              MessageTable()->viewport()->width() / 3 - 1);

    auto* header = Find<QLabel>("ReaderHeader");
    MessageTable()->selectRow(0);
    EXPECT_EQ(header->text(),
              "Кому: Мария (+79161234567)    08.12.2026 14:38:12\n"
              "Состояние: доставлено 08.12.2026 14:40:01");
    QApplication::processEvents();  // lets the pane make room for the state line
    Screenshots::Save(Window(), "main-outbox-states");
    MessageTable()->selectRow(1);
    EXPECT_TRUE(header->text().endsWith("\nСостояние: не доставлено: нет связи с сетью получателя"))
        << header->text().toStdString();

    Window().qmInBoxClick();
    EXPECT_TRUE(MessageTable()->isColumnHidden(BoxTableModel::kState))
        << "a received message has no delivery state";
    MessageTable()->selectRow(0);
    EXPECT_EQ(header->text(), "От: Мария (+79161234567)    08.12.2026 14:45:00");
}

TEST_F(OutboxStates, TheExportOfTheOutboxFillsTheStateColumn) {
    Sent("+79161234567", "08.12.2026 14:38:12", "Буду", 1);
    Sent("+79001234567", "08.12.2026 16:10:05", "Спасибо", 2);
    Report(1, "+79161234567", 0, "08.12.2026 14:40:01");
    Window().qmOutBoxClick();
    const std::string path = home_.File("sent.csv");
    dialogs_.AnswerFile(QString::fromStdString(path));
    Action("mmExportBox")->trigger();
    EXPECT_EQ(*files::ReadAll(path),
              "number,name,date,text,state\r\n"
              "+79161234567,,08.12.2026 14:38:12,Буду,доставлено 08.12.2026 14:40:01\r\n"
              "+79001234567,,08.12.2026 16:10:05,Спасибо,отправлено\r\n");
}

}  // namespace
}  // namespace velka::gui::testing
