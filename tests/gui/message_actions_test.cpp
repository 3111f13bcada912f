// The message pane's actions: reply, forward, copy and delete, from the context
// menu, the keys and the double click.
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTest>

#include "gui/box_table_model.h"
#include "platform/files.h"
#include "store/content_file.h"
#include "store/parts_file.h"
#include "store/store_file.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/gui/named_child.h"
#include "tests/support/box_held.h"

namespace velka::gui::testing {
namespace {

class MessageActions : public MainFormTest {
  protected:
    // An inbox of a two-part message from Мария between two single ones.
    void StoreInbox() {
        AddStored("Друзья", "+79161234567", "Мария");
        const std::vector<packet> records = {
            MakePacket("+70000000001", "08.12.2026 9:00:00", "before"),
            MakePacket("+79161234567", "08.12.2026 9:01:00", W("Первая часть, ")),
            MakePacket("+79161234567", "08.12.2026 9:01:02", W("вторая часть")),
            MakePacket("+70000000002", "08.12.2026 9:02:00", "after")};
        const std::vector<std::optional<store::PartFacts>> facts = {
            std::nullopt, store::PartFacts{7, 8, 2, 1}, store::PartFacts{7, 8, 2, 2}, std::nullopt};
        ASSERT_TRUE(store::AppendReceived(velka::testing::BoxHeld(home_.File("inbox.db")),
                                          home_.File("inbox.db"), records, facts));
        Window().show();
        // Shortcuts reach an active window only.
        Window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Window()));
        Window().qmInBoxClick();
        ASSERT_EQ(MessageTable()->model()->rowCount(), 3);
    }
    void Choose(int row) {
        MessageTable()->setFocus();
        MessageTable()->selectRow(row);
    }
    std::vector<std::string> ShownTexts() {
        std::vector<std::string> texts;
        for (int row = 0; row < MessageTable()->model()->rowCount(); ++row)
            texts.push_back(Cell(MessageTable(), row, 2).toStdString());
        return texts;
    }
};

TEST_F(MessageActions, TheContextMenuOffersTheActions) {
    StoreInbox();
    auto* menu = Find<QMenu>("MessagePopupMenu");
    QStringList entries;
    for (QAction* action : menu->actions()) entries << action->text();
    EXPECT_EQ(entries, QStringList({"Ответить", "Переслать", "Копировать текст",
                                    "Удалить сообщение", "Переписка", "Сохранить данные..."}));
    Choose(1);
    EXPECT_FALSE(Action("actSaveData")->isVisible()) << "a text has no payload to save";
}

// An emoji and a Greek letter the records hold as "?", and a binary message: the
// table, the reading pane and the clipboard show the texts whole, and the payload
// goes to the file the user names, byte for byte.
TEST_F(MessageActions, WhatTheRecordsLostShowsWholeAndAPayloadIsSaved) {
    const std::string inbox = home_.File("inbox.db");
    const std::vector<packet> records = {
        MakePacket("+70000000001", "08.12.2026 9:00:00", "Hi ? ?"),
        MakePacket("+70000000002", "08.12.2026 9:01:00", W("[двоичное сообщение, 4 байта]"))};
    store::RecordContent whole;
    whole.body = store::ContentBody::WholeText;
    whole.text = u"Hi \U0001F600 \u03A9";
    store::RecordContent data;
    data.body = store::ContentBody::Data;
    data.data = std::string("\x00\xFF\r\n", 4);
    {
        const auto held = velka::testing::BoxHeld(inbox);
        ASSERT_TRUE(store::AppendContent(
            held, inbox, {{0, records[0].checksum, whole}, {1, records[1].checksum, data}}));
        const std::vector<std::optional<store::PartFacts>> no_parts(2);
        ASSERT_TRUE(store::AppendReceived(held, inbox, records, no_parts));
    }
    Window().show();
    Window().qmInBoxClick();
    ASSERT_EQ(MessageTable()->model()->rowCount(), 2);
    EXPECT_EQ(Cell(MessageTable(), 0, 2), QString::fromStdU16String(u"Hi \U0001F600 \u03A9"));
    Choose(0);
    EXPECT_EQ(Find<QPlainTextEdit>("ReaderText")->toPlainText(),
              QString::fromStdU16String(u"Hi \U0001F600 \u03A9"));
    Action("actCopy")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(),
              QString::fromStdU16String(u"Hi \U0001F600 \u03A9"));
    Choose(1);
    ASSERT_TRUE(Action("actSaveData")->isVisible());
    const std::string saved = home_.File("payload.bin");
    dialogs_.AnswerFile(QString::fromStdString(saved));
    Action("actSaveData")->trigger();
    EXPECT_EQ(*files::ReadAll(saved), data.data);
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

TEST_F(MessageActions, ADoubleClickRepliesToTheSender) {
    StoreInbox();
    Choose(1);
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        EXPECT_EQ(In<QLineEdit>(form, "RecepientsEdit")->text(), "+79161234567");
        EXPECT_TRUE(In<QPlainTextEdit>(form, "MessageText")->toPlainText().isEmpty());
        In<QPlainTextEdit>(form, "MessageText")->setPlainText("Да");
        return QDialog::Accepted;
    });
    QWidget* rows = MessageTable()->viewport();
    const QPoint centre = MessageTable()->visualRect(MessageTable()->model()->index(1, 2)).center();
    // A double click is a click and then the double-click event, as a mouse sends them.
    QTest::mouseClick(rows, Qt::LeftButton, {}, centre);
    QTest::mouseDClick(rows, Qt::LeftButton, {}, centre);
    EXPECT_EQ(dialogs_.FormsShown(), 1);
    EXPECT_EQ(Window().Recipients(), std::vector<std::string>{"+79161234567"});
}

TEST_F(MessageActions, ForwardOpensTheComposeWindowWithTheWholeText) {
    StoreInbox();
    Choose(1);
    dialogs_.AnswerForm([&](QDialog& form) -> int {
        EXPECT_TRUE(In<QLineEdit>(form, "RecepientsEdit")->text().isEmpty());
        EXPECT_EQ(In<QPlainTextEdit>(form, "MessageText")->toPlainText(),
                  "Первая часть, вторая часть");
        EXPECT_EQ(In<QLabel>(form, "CounterLabel")->text(), "Сообщений: 1  Знаков: 26");
        return QDialog::Rejected;
    });
    QTest::keyClick(MessageTable(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(dialogs_.FormsShown(), 1);
}

TEST_F(MessageActions, CopyPutsTheTextOnTheClipboard) {
    StoreInbox();
    Choose(1);
    QTest::keyClick(MessageTable(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "Первая часть, вторая часть");
}

TEST_F(MessageActions, DeleteAsksFirstAndTakesEveryPartOfAJoinedMessage) {
    StoreInbox();
    Choose(1);
    dialogs_.AnswerConfirm(false);
    QTest::keyClick(MessageTable(), Qt::Key_Delete);
    EXPECT_EQ(ShownTexts().size(), 3u) << "answered No: nothing removed";
    dialogs_.AnswerConfirm(true);
    Action("actDelete")->trigger();
    EXPECT_EQ(ShownTexts(), (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(store::Load(home_.File("inbox.db"))->size(), 2u) << "both parts left the file";
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
    EXPECT_TRUE(velka::testing::BoxLockFree(home_.File("inbox.db")));
}

TEST_F(MessageActions, WithoutAChosenMessageTheActionsDoNothing) {
    StoreInbox();
    MessageTable()->clearSelection();
    MessageTable()->setCurrentIndex({});
    for (const char* name : {"actReply", "actForward", "actDelete"}) Action(name)->trigger();
    EXPECT_EQ(dialogs_.FormsShown(), 0);
    EXPECT_TRUE(dialogs_.Messages().empty());
    EXPECT_EQ(ShownTexts().size(), 3u);
}

TEST_F(MessageActions, ADeleteTheDiskRefusesIsReportedAndTheBoxStays) {
    StoreInbox();
    Choose(0);
    std::filesystem::remove(store::PartsPathFor(home_.File("inbox.db")));
    std::filesystem::create_directory(store::PartsPathFor(home_.File("inbox.db")));
    dialogs_.AnswerConfirm(true);
    Action("actDelete")->trigger();
    ASSERT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Confirm);
    EXPECT_EQ(dialogs_.Messages()[1].kind, MessageKind::Error);
    EXPECT_EQ(store::Load(home_.File("inbox.db"))->size(), 4u);
    EXPECT_EQ(ShownTexts().size(), 3u) << "the list stays as it was";
}

class MessageSearchAndConversations : public MessageActions {
  protected:
    void StoreBoth() {
        ASSERT_TRUE(store::Save(velka::testing::BoxHeld(home_.File("outbox.db")),
                                home_.File("outbox.db"),
                                std::vector<packet>{MakePacket("89161234567", "08.12.2026 9:30:00",
                                                               W("Ответ на ПЕРВУЮ часть"))}));
        StoreInbox();
    }
    QString Caption() { return Find<QLabel>("PanelMBCaption")->text(); }
};

TEST_F(MessageSearchAndConversations, SearchFindsInBothBoxesAndAnEmptyFieldShowsTheBoxAgain) {
    StoreBoth();
    auto* search = Find<QLineEdit>("MessageSearch");
    search->setText("ПЕРВ");
    EXPECT_EQ(ShownTexts(),
              (std::vector<std::string>{"Первая часть, вторая часть", "Ответ на ПЕРВУЮ часть"}));
    EXPECT_EQ(Caption(), " Поиск: ПЕРВ") << "not the caption of the box it was typed in";
    Choose(1);
    EXPECT_TRUE(Find<QLabel>("ReaderHeader")->text().startsWith("Кому: Мария (89161234567)"));
    search->setText("мария");
    EXPECT_EQ(ShownTexts().size(), 2u) << "by the contact's name";
    search->setText("0000000002");
    EXPECT_EQ(ShownTexts(), std::vector<std::string>{"after"}) << "by the number";
    search->clear();
    EXPECT_EQ(ShownTexts().size(), 3u);
    EXPECT_EQ(Caption(), " Принятые");
}

TEST_F(MessageSearchAndConversations, AConversationFromAContactHoldsBothBoxesInTimeOrder) {
    StoreBoth();
    Window().qmContactsClick();
    SelectContact(0);
    Action("actContactConversation")->trigger();
    EXPECT_EQ(Caption(), " Переписка: Мария (+79161234567)");
    EXPECT_TRUE(Find<QWidget>("PanelMessageBox")->isVisible());
    EXPECT_EQ(ShownTexts(),
              (std::vector<std::string>{"Первая часть, вторая часть", "Ответ на ПЕРВУЮ часть"}));
    // Which way each went, at a glance: a mark before the number, sent ones in blue.
    EXPECT_EQ(Cell(MessageTable(), 0, 0), "← Мария (+79161234567)");
    EXPECT_EQ(Cell(MessageTable(), 1, 0), "→ Мария (89161234567)");
    const auto colour = [&](int row) {
        return MessageTable()->model()->index(row, 2).data(Qt::ForegroundRole);
    };
    EXPECT_FALSE(colour(0).isValid()) << "received: the view's own colour";
    EXPECT_TRUE(colour(1).isValid());
    Window().qmInBoxClick();
    EXPECT_EQ(ShownTexts().size(), 3u);
    EXPECT_EQ(Cell(MessageTable(), 0, 0), "+70000000001") << "one box: no marks";
}

TEST_F(MessageSearchAndConversations, AConversationFromAMessageTakesItsNumber) {
    StoreBoth();
    Choose(2);
    Action("actConversation")->trigger();
    EXPECT_EQ(Caption(), " Переписка: +70000000002");
    EXPECT_EQ(ShownTexts(), std::vector<std::string>{"after"});
}

TEST_F(MessageSearchAndConversations, TheContactMenuOffersTheConversation) {
    StoreBoth();
    QStringList entries;
    for (QAction* action : Find<QMenu>("PopupMenu")->actions()) entries << action->text();
    EXPECT_TRUE(entries.contains("Переписка"));
}

TEST_F(MessageSearchAndConversations, TheShownMessagesAreSavedAsCsv) {
    StoreBoth();
    const std::string path = home_.File("export.csv");
    dialogs_.AnswerFile(QString::fromStdString(path));
    Action("mmExportBox")->trigger();
    EXPECT_EQ(*files::ReadAll(path),
              "number,name,date,text,state\r\n"
              "+70000000001,,08.12.2026 9:00:00,before,\r\n"
              "+79161234567,Мария,08.12.2026 9:01:00,\"Первая часть, вторая часть\",\r\n"
              "+70000000002,,08.12.2026 9:02:00,after,\r\n");
    dialogs_.AnswerFile({});  // cancelled: nothing written
    Action("mmExportBox")->trigger();
    dialogs_.AnswerFile(QString::fromStdString(home_.File("no/such/folder/x.csv")));
    Action("mmExportBox")->trigger();
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Error);
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

// With VELKA_SCREENSHOTS=DIR: a five-part message read as one, a message with a
// part still missing, the list sorted by date, a reply and the delete question.
TEST_F(MessageActions, Screenshots) {
    if (!Screenshots::Enabled()) GTEST_SKIP() << "VELKA_SCREENSHOTS is not set";
    AddStored("Семья", "+79161112233", "Мама");
    AddStored("Друзья", "+79265556677", "Сергей");
    const std::string story =
        W("Привет! Сообщаю подробности поездки на выходные. Оно содержит всё, что нужно знать: "
          "выезжаем в субботу в 8:00 от дома, едем на двух машинах. Возьми тёплую одежду, "
          "сапоги и термос. Ночуем на турбазе у озера, домики уже оплачены. В воскресенье "
          "после обеда собираемся обратно, к вечеру будем дома. Позвони, если будут вопросы!");
    std::vector<packet> records = {
        MakePacket("+79265556677", "07.12.2026 12:40:37", W("Встречаемся в 19:00 у кинотеатра"))};
    std::vector<std::optional<store::PartFacts>> facts = {std::nullopt};
    const std::size_t parts = (story.size() + 66) / 67;
    for (std::size_t part = 0; part < parts; ++part) {
        records.push_back(MakePacket("+79161112233", "07.12.2026 18:05:1" + std::to_string(part),
                                     story.substr(part * 67, 67)));
        facts.push_back(store::PartFacts{0x41, 8, static_cast<std::uint8_t>(parts),
                                         static_cast<std::uint8_t>(part + 1)});
    }
    records.push_back(MakePacket("+79001234567", "07.12.2026 20:11:00",
                                 W("Завтра созвон в десять, повестку пришлю ")));
    facts.push_back(store::PartFacts{0x12, 8, 2, 1});
    ASSERT_TRUE(store::AppendReceived(velka::testing::BoxHeld(home_.File("inbox.db")),
                                      home_.File("inbox.db"), records, facts));
    ASSERT_TRUE(store::Save(
        velka::testing::BoxHeld(home_.File("outbox.db")), home_.File("outbox.db"),
        std::vector<packet>{
            MakePacket("+79161112233", "07.12.2026 9:20:11", W("Хорошо, куплю")),
            MakePacket("89161112233", "07.12.2026 18:20:45", W("Отлично, всё возьму!"))}));
    Window().show();
    Window().qmInBoxClick();
    Choose(1);
    Screenshots::Save(Window(), "main-inbox-joined");
    MessageTable()->horizontalHeader()->setSortIndicator(BoxTableModel::kDateTime,
                                                         Qt::DescendingOrder);
    Choose(0);
    Screenshots::Save(Window(), "main-inbox-sorted");
    Find<QLineEdit>("MessageSearch")->setText("сапоги");
    Screenshots::Save(Window(), "main-search-messages");
    Find<QLineEdit>("MessageSearch")->clear();
    Choose(1);
    Action("actConversation")->trigger();
    Screenshots::Save(Window(), "main-conversation");
    Window().qmInBoxClick();
    Choose(1);
    dialogs_.NameNextScreenshot("compose-reply");
    dialogs_.AnswerForm([](QDialog&) { return QDialog::Rejected; });
    Action("actReply")->trigger();
    dialogs_.NameNextScreenshot("confirm-delete");
    dialogs_.AnswerConfirm(false);
    Action("actDelete")->trigger();
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

}  // namespace
}  // namespace velka::gui::testing
