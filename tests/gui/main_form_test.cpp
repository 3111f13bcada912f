#include <QDialog>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <filesystem>
#include <mutex>

#include "gui/box_table_model.h"
#include "platform/files.h"
#include "store/parts_file.h"
#include "store/store_file.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/support/box_held.h"

namespace velka::gui::testing {
namespace {

QStringList Captions(const QList<QAction*>& items) {
    QStringList captions;
    for (const QAction* item : items) captions << (item->isSeparator() ? "-" : item->text());
    return captions;
}

QStringList Headers(QTableView* view) {
    QStringList headers;
    for (int column = 0; column < view->model()->columnCount(); ++column)
        headers << view->model()->headerData(column, Qt::Horizontal).toString();
    return headers;
}

using MainFormStartUp = MainFormTest;

TEST_F(MainFormStartUp, ShowsTheContactPaneOfTheLaidOutWindow) {
    Window().show();
    EXPECT_EQ(Window().windowTitle(), "Velka SMS Клиент Zevu");
    EXPECT_EQ(Window().minimumSize(), QSize(696, 478));
    EXPECT_EQ(Window().size(), QSize(696, 478));
    EXPECT_FALSE(Window().windowIcon().isNull());
    EXPECT_TRUE(Find<QWidget>("PanelContacts")->isVisible());
    EXPECT_FALSE(Find<QWidget>("PanelMessageBox")->isVisible());
    EXPECT_FALSE(Find<QWidget>("ContactsSearchPanel")->isVisible());
    EXPECT_EQ(Find<QLabel>("CaptionContacts")->text(), " Контакты");
    EXPECT_EQ(Find<QWidget>("QuikMenu")->width(), 105);
    EXPECT_NE(Find<QStatusBar>("StatusBar"), nullptr);
    EXPECT_EQ(Headers(ContactsList()), QStringList({"абонент", "номер телефона", "группа"}));
    EXPECT_EQ(Headers(MessageTable()), QStringList({"номер абонента", "дата и время",
                                                    "текст сообщения", "состояние", "SIM"}));
    EXPECT_TRUE(ContactsList()->showGrid());
    EXPECT_EQ(ContactsList()->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(MessageTable()->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(MainFormStartUp, TheQuickMenuHasFivePicturedButtonsFromTheTop) {
    const std::vector<std::pair<const char*, QString>> buttons = {{"qmCompose", "Написать"},
                                                                  {"qmOutBox", "Отправленные"},
                                                                  {"qmInBox", "Принятые"},
                                                                  {"qmContacts", "Контакты"},
                                                                  {"qmOptions", "Настройки"}};
    Window().show();
    int previous_top = -1;
    for (const auto& [name, caption] : buttons) {
        QToolButton* button = Find<QToolButton>(name);
        EXPECT_EQ(button->text(), caption);
        EXPECT_EQ(button->size(), QSize(100, 80)) << name;
        EXPECT_FALSE(button->icon().isNull()) << name;
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_GT(button->y(), previous_top) << name;
        previous_top = button->y();
    }
}

TEST_F(MainFormStartUp, ListsEveryStoredContact) {
    AddStored("Work", "+7900111", "Иван");
    AddStored("Home", "+7900222", "Мама");
    EXPECT_EQ(ContactRows(), (std::vector<std::vector<std::string>>{{"Мама", "+7900222", "Home"},
                                                                    {"Иван", "+7900111", "Work"}}));
}

TEST_F(MainFormStartUp, AValueThatIsNotAStringIsReportedAndTheRowsBeforeItStay) {
    AddStored("A", "1", "First");
    ASSERT_TRUE(registry_.WriteDWord(std::string(contacts::kContactKey) + "\\B", "777", 1));
    Window();
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Error);
    EXPECT_EQ(dialogs_.Messages()[0].text, "Invalid data type for '777'");
    EXPECT_EQ(ContactRows().size(), 1u);
}

using MainFormMenus = MainFormTest;

TEST_F(MainFormMenus, ReadAsTheWindowLaysThemOut) {
    EXPECT_EQ(Find<QMenu>("mmFile")->title(), "Файл");
    EXPECT_EQ(Captions(Find<QMenu>("mmFile")->actions()),
              QStringList({"Принятые", "Отправленные", "Список контактов", "Сохранить папку в CSV…",
                           "Импорт контактов…", "Импорт контактов с SIM-карты",
                           "Экспорт контактов…", "Выход"}));
    EXPECT_EQ(Find<QMenu>("mmServices")->title(), "Сервис");
    EXPECT_EQ(Captions(Find<QMenu>("mmServices")->actions()),
              QStringList({"Написать сообщение", "-", "Список контактов", "USSD-запрос…", "Модемы…",
                           "-", "Настройки"}));
    EXPECT_FALSE(Action("mmModems")->isVisible()) << "shown only while a pool runs";
    EXPECT_EQ(Captions(Find<QMenu>("mmContactsList")->actions()),
              QStringList({"Добавить", "Редактировать", "Удалить", "Переписка", "-", "Поиск"}));
    EXPECT_EQ(Captions(Find<QMenu>("PopupMenu")->actions()),
              QStringList({"Добавить", "Редактировать", "Удалить", "Переписка"}));
}

TEST_F(MainFormMenus, ContactActionsFormOneCategory) {
    for (const char* name : {"actContactEdit", "actContactAdd", "actSearch", "actContactRemove"})
        EXPECT_EQ(Action(name)->property("category").toString(), "ManageContacts") << name;
    EXPECT_EQ(Action("actCompose")->text(), "Написать сообщение");
}

// Each entry of the contacts submenu, of the context menu and of the tool bar
// runs the action of the same caption.
TEST_F(MainFormMenus, EveryEntryRunsItsAction) {
    const QList<QAction*> submenu = Find<QMenu>("mmContactsList")->actions();
    const QList<QAction*> popup = Find<QMenu>("PopupMenu")->actions();
    const std::vector<std::pair<const char*, std::vector<QObject*>>> bindings = {
        {"actContactAdd", {submenu[0], popup[0], Find<QToolButton>("tbContactAdd")}},
        {"actContactEdit", {submenu[1], popup[1], Find<QToolButton>("tbContactEdit")}},
        {"actContactRemove", {submenu[2], popup[2], Find<QToolButton>("tbContactRemove")}},
        {"actContactConversation", {submenu[3], popup[3]}},
        {"actSearch", {submenu[5], Find<QToolButton>("tbSearch")}},
        {"actCompose", {Action("mmCompose"), Find<QToolButton>("qmCompose")}},
    };
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });  // the add entries open
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });  // the dialog three times
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });  // the compose window twice
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });
    for (const auto& [action_name, entries] : bindings) {
        QSignalSpy runs(Action(action_name), &QAction::triggered);
        for (QObject* entry : entries) {
            if (auto* item = qobject_cast<QAction*>(entry)) item->trigger();
            if (auto* button = qobject_cast<QToolButton*>(entry)) button->click();
        }
        EXPECT_EQ(runs.count(), static_cast<int>(entries.size())) << action_name;
    }
    EXPECT_EQ(Find<QToolButton>("tbContactAdd")->text(), "Добавить");
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

using MainFormPanes = MainFormTest;

TEST_F(MainFormPanes, BoxViewsAndTheContactPaneTakeTurns) {
    Window().show();
    QWidget* contacts = Find<QWidget>("PanelContacts");
    QWidget* messages = Find<QWidget>("PanelMessageBox");
    QLabel* caption = Find<QLabel>("PanelMBCaption");

    QTest::mouseClick(Find<QToolButton>("qmInBox"), Qt::LeftButton);
    EXPECT_FALSE(contacts->isVisible());
    EXPECT_TRUE(messages->isVisible());
    EXPECT_EQ(caption->text(), " Принятые");
    EXPECT_EQ(MessageTable()->model()->rowCount(), 0);  // no inbox.db yet

    Action("mmOutBox")->trigger();
    EXPECT_FALSE(contacts->isVisible());
    EXPECT_EQ(caption->text(), " Отправленные");

    Action("mmContacts")->trigger();
    EXPECT_TRUE(contacts->isVisible());
    EXPECT_FALSE(messages->isVisible());

    Action("mmInBox")->trigger();
    EXPECT_EQ(caption->text(), " Принятые");
    QTest::mouseClick(Find<QToolButton>("qmOutBox"), Qt::LeftButton);
    EXPECT_EQ(caption->text(), " Отправленные");
    QTest::mouseClick(Find<QToolButton>("qmContacts"), Qt::LeftButton);
    EXPECT_TRUE(contacts->isVisible());
}

TEST_F(MainFormPanes, ExitClosesTheWindow) {
    Window().show();
    Action("mmClose")->trigger();
    EXPECT_FALSE(Window().isVisible());
}

class BoxViews : public MainFormTest {
  protected:
    void Store(const std::string& file, const std::vector<packet>& records) {
        ASSERT_TRUE(
            store::Save(velka::testing::BoxHeld(home_.File(file)), home_.File(file), records));
    }
};

TEST_F(BoxViews, ListRecordsInFileOrderWithTheirThreeFields) {
    Store("outbox.db", {MakePacket("+7900111", "01.02.2026 9:05:00", W("Первое")),
                        MakePacket("+7900222", "01.02.2026 9:06:00", "Second\r\nline"),
                        MakePacket("+7900333", "01.02.2026", "Third")});
    Window().qmOutBoxClick();
    QTableView* view = MessageTable();
    ASSERT_EQ(view->model()->rowCount(), 3);
    EXPECT_EQ(Cell(view, 0, 0), "+7900111");
    EXPECT_EQ(Cell(view, 0, 1), "01.02.2026 9:05:00");
    EXPECT_EQ(Cell(view, 0, 2), "Первое");
    EXPECT_EQ(Cell(view, 1, 2), "Second line");
    EXPECT_EQ(view->model()->index(1, 2).data(Qt::ToolTipRole).toString(), "Second\r\nline");
    EXPECT_EQ(Cell(view, 2, 0), "+7900333");
}

TEST_F(BoxViews, SwitchingBoxesReplacesTheRows) {
    Store("outbox.db", {MakePacket("1", "d", "out")});
    Store("inbox.db", {MakePacket("2", "d", "in one"), MakePacket("3", "d", "in two")});
    Window().qmInBoxClick();
    EXPECT_EQ(MessageTable()->model()->rowCount(), 2);
    Window().qmOutBoxClick();
    ASSERT_EQ(MessageTable()->model()->rowCount(), 1);
    EXPECT_EQ(Cell(MessageTable(), 0, 2), "out");
}

// A 331-character Russian message as five parts, stored as the reception cycle
// stores them: one record each, their facts in inbox.parts.
TEST_F(BoxViews, AFivePartMessageReadsAsOneRowAndAGapIsMarked) {
    const QString whole = QString("Оно содержит всё, что нужно. ").repeated(12).left(331);
    std::vector<packet> parts;
    std::vector<std::optional<store::PartFacts>> facts;
    for (std::uint8_t part = 1; part <= 5; ++part) {
        const QString piece = whole.mid((part - 1) * 67, 67);
        parts.push_back(MakePacket("+79161234567", "08.12.2026 10:00:0" + std::to_string(part),
                                   codepage::FromUtf8(piece.toStdString())));
        facts.push_back(store::PartFacts{0x2A, 8, 5, part});
    }
    parts.push_back(MakePacket("+79990000001", "08.12.2026 11:00:00", "single"));
    facts.emplace_back();
    const std::string inbox = home_.File("inbox.db");
    ASSERT_TRUE(store::AppendReceived(velka::testing::BoxHeld(inbox), inbox,
                                      std::span(parts).subspan(2), std::span(facts).subspan(2)));
    Window().qmInBoxClick();
    ASSERT_EQ(MessageTable()->model()->rowCount(), 2);
    EXPECT_EQ(Cell(MessageTable(), 0, 2),
              "[часть 1 из 5 ещё не пришла][часть 2 из 5 ещё не пришла]" + whole.mid(134));
    EXPECT_EQ(Cell(MessageTable(), 0, 1), "08.12.2026 10:00:03")
        << "dated by the first part that came";

    ASSERT_TRUE(store::AppendReceived(velka::testing::BoxHeld(inbox), inbox,
                                      std::span(parts).first(2), std::span(facts).first(2)));
    Window().qmInBoxClick();
    ASSERT_EQ(MessageTable()->model()->rowCount(), 2);
    EXPECT_EQ(Cell(MessageTable(), 0, 0), "+79161234567");
    EXPECT_EQ(Cell(MessageTable(), 0, 1), "08.12.2026 10:00:01");
    EXPECT_EQ(Cell(MessageTable(), 0, 2), whole);
    EXPECT_EQ(Cell(MessageTable(), 1, 2), "single");
}

TEST_F(BoxViews, TheReadingPaneShowsTheWholeTextWithNameNumberAndDate) {
    AddStored("Друзья", "+79161234567", "Мария");
    Store("inbox.db",
          {MakePacket("89161234567", "08.12.2026 9:05:00", W("Первая строка\r\nвторая")),
           MakePacket("+70000000000", "08.12.2026 9:06:00", "unknown")});
    Window().qmInBoxClick();
    EXPECT_EQ(Cell(MessageTable(), 0, 0), "Мария (89161234567)") << "8... and +7... are one number";
    EXPECT_EQ(Cell(MessageTable(), 1, 0), "+70000000000");
    auto* header = Find<QLabel>("ReaderHeader");
    auto* text = Find<QPlainTextEdit>("ReaderText");
    EXPECT_TRUE(text->toPlainText().isEmpty()) << "nothing chosen yet";
    MessageTable()->selectRow(0);
    EXPECT_EQ(header->text(), "От: Мария (89161234567)    08.12.2026 9:05:00");
    EXPECT_EQ(text->toPlainText(), "Первая строка\nвторая") << "line breaks kept";
    MessageTable()->selectRow(1);
    EXPECT_EQ(text->toPlainText(), "unknown");
    Window().qmOutBoxClick();
    EXPECT_TRUE(text->toPlainText().isEmpty()) << "another box: the pane is cleared";
}

TEST_F(BoxViews, ClickingAColumnHeaderSortsAndTheReadingPaneKeepsItsMessage) {
    Store("inbox.db", {MakePacket("+3", "08.12.2026 10:00:00", "b"),
                       MakePacket("+1", "08.12.2026 9:00:00", "C"),
                       MakePacket("+2", "07.12.2026 23:00:00", "a")});
    Window().qmInBoxClick();
    EXPECT_EQ(Cell(MessageTable(), 0, 2), "b") << "box order until a header is clicked";
    MessageTable()->selectRow(0);
    QHeaderView* header = MessageTable()->horizontalHeader();
    header->setSortIndicator(BoxTableModel::kDateTime, Qt::AscendingOrder);
    EXPECT_EQ(Cell(MessageTable(), 0, 2), "a");
    EXPECT_EQ(Cell(MessageTable(), 1, 2), "C");
    EXPECT_EQ(Cell(MessageTable(), 2, 2), "b");
    EXPECT_EQ(MessageTable()->currentIndex().row(), 2) << "the chosen message moved with its row";
    EXPECT_EQ(Find<QPlainTextEdit>("ReaderText")->toPlainText(), "b");
    header->setSortIndicator(BoxTableModel::kText, Qt::DescendingOrder);
    EXPECT_EQ(Cell(MessageTable(), 0, 2), "C") << "letter case ignored";
    header->setSortIndicator(BoxTableModel::kNumber, Qt::AscendingOrder);
    EXPECT_EQ(Cell(MessageTable(), 0, 0), "+1");
    Window().qmInBoxClick();
    EXPECT_EQ(Cell(MessageTable(), 0, 0), "+1") << "a reload keeps the order chosen";
}

TEST_F(BoxViews, ATextShowsUpToItsFirstZeroByteAndNeverBeyondItsField) {
    const std::string with_zero("before\0after", 12);
    const std::string full(kTextField, 'x');
    packet full_record = MakePacket("+7900", "01.01.2026 0:00:01", full);
    full_record.set_number(std::string(kNumberField, '7'));  // a number filling its field
    Store("inbox.db", {MakePacket("+7900", "01.01.2026 0:00:00", with_zero), full_record});
    Window().qmInBoxClick();
    EXPECT_EQ(Cell(MessageTable(), 0, 2), "before");
    EXPECT_EQ(Cell(MessageTable(), 1, 2), QString(1024, 'x'));
    EXPECT_EQ(Cell(MessageTable(), 1, 0), QString(24, '7'));
}

TEST_F(BoxViews, ALargeBoxOpensWithEveryRecord) {
    std::vector<packet> records;
    for (int i = 0; i < 100000; ++i)
        records.push_back(MakePacket("+7" + std::to_string(i), "01.01.2026 1:00:00", "m"));
    Store("inbox.db", records);
    Window().show();
    Window().qmInBoxClick();
    EXPECT_EQ(MessageTable()->model()->rowCount(), 100000);
    EXPECT_EQ(Cell(MessageTable(), 99999, 0), "+799999");
    MessageTable()->scrollToBottom();
}

TEST_F(BoxViews, AFileThatCannotBeReadIsReportedAndNoPaneIsShown) {
    ASSERT_TRUE(std::filesystem::create_directory(home_.File("inbox.db")));
    Window().show();
    Window().qmInBoxClick();
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Error);
    EXPECT_FALSE(dialogs_.Messages()[0].text.isEmpty());
    EXPECT_FALSE(Find<QWidget>("PanelContacts")->isVisible());
    EXPECT_FALSE(Find<QWidget>("PanelMessageBox")->isVisible());
}

TEST_F(BoxViews, LoadAndReleaseTheBoxLock) {
    Store("inbox.db", {MakePacket("1", "d", "t")});
    Window().show();
    Window().qmInBoxClick();
    EXPECT_EQ(MessageTable()->model()->rowCount(), 1);
    EXPECT_TRUE(velka::testing::BoxLockFree(home_.File("inbox.db")));
}

}  // namespace
}  // namespace velka::gui::testing
