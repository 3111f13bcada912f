// The compose window through the main window's "Написать": its layout, the three
// ways of adding recipients, the counter and the text limit, and what sending queues.
#include "gui/compose_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>

#include "compose/draft.h"
#include "platform/files.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/gui/named_child.h"

namespace velka::gui::testing {
namespace {

class ComposeTest : public MainFormTest {
  protected:
    // Opens the compose window and runs `script` on it; the window closes with the
    // result the script gives.
    void Compose(const std::function<int(QDialog&)>& script) {
        dialogs_.AnswerForm(script);
        Window().findChild<QAction*>("actCompose")->trigger();
    }
    static QString RecipientText(QDialog& form) {
        return In<QLineEdit>(form, "RecepientsEdit")->text();
    }
    static QTableView* List(QDialog& form) { return In<QTableView>(form, "ContactsList"); }
    static void Trigger(QDialog& form, const char* menu_entry) {
        In<QAction>(form, menu_entry)->trigger();
    }
    static void Tick(QDialog& form, int row) {
        QAbstractItemModel* model = List(form)->model();
        ASSERT_TRUE(model->setData(model->index(row, 0), Qt::Checked, Qt::CheckStateRole));
    }
    static QString Counter(QDialog& form) { return In<QLabel>(form, "CounterLabel")->text(); }
    static void Write(QDialog& form, const QString& text) {
        In<QPlainTextEdit>(form, "MessageText")->setPlainText(text);
    }

    // The window as a new start of the program makes it, over the same files.
    void ReopenWindow() {
        model_testers_.clear();
        config_form_.reset();
        window_.reset();
        Window();
    }
    std::string DraftPath() const { return home_.File(compose::kDraftFile); }
    std::optional<compose::Draft> KeptDraft() const {
        const auto kept = compose::LoadDraft(DraftPath());
        EXPECT_TRUE(kept) << kept.error().message;
        return kept ? *kept : std::nullopt;
    }
    static inline const QString kKeep = QStringLiteral("Сохранить");
    static inline const QString kDiscard = QStringLiteral("Не сохранять");
    static inline const QString kBack = QStringLiteral("Вернуться");

    // Three contacts: two in "Друзья", one in "Работа".
    void AddThreeContacts() {
        AddStored("Друзья", "+79161234567", "Иван");
        AddStored("Друзья", "+79990000002", "Мария");
        AddStored("Работа", "+74951112233", "Офис");
    }
};

TEST_F(ComposeTest, OpensEmptyWithEveryContactAndGroup) {
    AddThreeContacts();
    Compose([&](QDialog& form) -> int {
        EXPECT_EQ(form.windowTitle(), "Сообщение");
        EXPECT_EQ(form.size(), QSize(756, 322));
        EXPECT_EQ(In<QLabel>(form, "RecepientsCaption")->text(), " Список получателей: ");
        EXPECT_EQ(In<QLabel>(form, "MessageCaption")->text(), " Текст сообщения: ");
        EXPECT_EQ(In<QLabel>(form, "CaptionSearch")->text(), " Поиск");
        EXPECT_EQ(In<QWidget>(form, "ComposePanel")->width(), 340);
        EXPECT_EQ(Counter(form), "Сообщений: 0");
        EXPECT_EQ(RecipientText(form), "");
        EXPECT_EQ(In<QPushButton>(form, "btnSend")->text(), "Отправить");
        EXPECT_EQ(In<QPushButton>(form, "btnAbort")->text(), "Отмена");
        EXPECT_EQ(List(form)->model()->rowCount(), 3);
        EXPECT_TRUE(List(form)->model()->flags(List(form)->model()->index(0, 0)) &
                    Qt::ItemIsUserCheckable);
        QComboBox* groups = In<QComboBox>(form, "GroupToSearch");
        EXPECT_EQ(groups->count(), 2);
        EXPECT_EQ(groups->itemText(0), "Друзья");
        EXPECT_EQ(groups->currentText(), "");
        return QDialog::Rejected;
    });
    EXPECT_EQ(dialogs_.FormsShown(), 1);
}

TEST_F(ComposeTest, AddsTheSelectedRowOnceAndNothingWithoutASelection) {
    AddThreeContacts();
    Compose([&](QDialog& form) -> int {
        Trigger(form, "pmAdd");
        EXPECT_EQ(RecipientText(form), "") << "no row selected";
        List(form)->selectRow(1);
        Trigger(form, "pmAdd");
        Trigger(form, "pmAdd");
        EXPECT_EQ(RecipientText(form), "+79990000002");
        List(form)->selectRow(2);
        emit List(form)->doubleClicked(List(form)->model()->index(2, 1));
        EXPECT_EQ(RecipientText(form), "+79990000002,+74951112233");
        return QDialog::Rejected;
    });
}

TEST_F(ComposeTest, AddsAllRowsShownAfterASearchAndOnlyTickedOnes) {
    AddThreeContacts();
    AddStored("Друзья", "9161234567", "Иван без кода");
    Compose([&](QDialog& form) -> int {
        Trigger(form, "pmAddChecked");
        EXPECT_EQ(RecipientText(form), "") << "nothing ticked";
        Tick(form, 3);  // "Офис", after the three of "Друзья"
        Trigger(form, "pmAddChecked");
        EXPECT_EQ(RecipientText(form), "+74951112233");

        In<QLineEdit>(form, "RecepientsEdit")->clear();
        In<QLineEdit>(form, "NameToSearch")->setText("Ив");
        EXPECT_EQ(List(form)->model()->rowCount(), 2);
        Trigger(form, "pmAddAll");
        // The number without its country prefix is inside the first one: skipped.
        EXPECT_EQ(RecipientText(form), "+79161234567");
        return QDialog::Rejected;
    });
}

TEST_F(ComposeTest, TheSearchFiltersByGroup) {
    AddThreeContacts();
    Compose([&](QDialog& form) -> int {
        In<QComboBox>(form, "GroupToSearch")->setEditText("работа");
        EXPECT_EQ(List(form)->model()->rowCount(), 1);
        Trigger(form, "pmAddAll");
        EXPECT_EQ(RecipientText(form), "+74951112233");
        return QDialog::Rejected;
    });
}

// The signature (38 Latin characters) goes out in front of every text and counts.
TEST_F(ComposeTest, TheCounterFollowsTheTextAndCountsTheSignature) {
    Compose([&](QDialog& form) -> int {
        Write(form, QString(122, 'a'));
        EXPECT_EQ(Counter(form), "Сообщений: 1  Знаков: 122");
        Write(form, QString(123, 'a'));
        EXPECT_EQ(Counter(form), "Сообщений: 2  Знаков: 123");
        Write(form, QString(69, QChar(0x0436)));  // 69 x "ж": two messages with the signature
        EXPECT_EQ(Counter(form), "Сообщений: 2  Знаков: 69");
        Write(form, QString(121, 'a') + "ё");  // the 7-bit alphabet lacks "ё": UCS2
        EXPECT_EQ(Counter(form), "Сообщений: 3  Знаков: 122");
        Write(form, QString(121, 'a') + "€");  // the euro takes two septets
        EXPECT_EQ(Counter(form), "Сообщений: 2  Знаков: 122");
        Write(form, "a\nb");  // a line break is stored as CR LF
        EXPECT_EQ(Counter(form), "Сообщений: 1  Знаков: 4");
        Write(form, "");
        EXPECT_EQ(Counter(form), "Сообщений: 1  Знаков: 0");
        return QDialog::Rejected;
    });
}

TEST_F(ComposeTest, NoMoreThan1024CharactersCanBeEntered) {
    Compose([&](QDialog& form) -> int {
        auto* edit = In<QPlainTextEdit>(form, "MessageText");
        Write(form, QString(1000, 'a'));
        edit->moveCursor(QTextCursor::Start);
        edit->insertPlainText(QString(100, 'b'));
        EXPECT_EQ(edit->toPlainText(), QString(24, 'b') + QString(1000, 'a'))
            << "the pasted text is cut where it was inserted";
        EXPECT_EQ(Counter(form), "Сообщений: 7  Знаков: 1024");
        Write(form, QString(1023, 'a'));
        edit->moveCursor(QTextCursor::End);
        edit->insertPlainText("\n");  // would take two characters, only one is left
        EXPECT_EQ(edit->toPlainText(), QString(1023, 'a'));
        Write(form, QString(2000, 'c'));
        EXPECT_EQ(edit->toPlainText().size(), 1024);
        return QDialog::Rejected;
    });
}

TEST_F(ComposeTest, CancelOrAnEmptyFieldQueuesNothingAndSaysNothing) {
    Compose([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79161234567");
        Write(form, "Hello");
        return QDialog::Rejected;
    });
    Compose([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79161234567");
        return QDialog::Accepted;
    });
    Compose([&](QDialog& form) -> int {
        Write(form, "Hello");
        return QDialog::Accepted;
    });
    EXPECT_TRUE(Window().Recipients().empty());
    EXPECT_TRUE(dialogs_.Messages().empty());
    EXPECT_EQ(dialogs_.FormsShown(), 3);
}

TEST_F(ComposeTest, AnOpenedWindowStartsAfresh) {
    Compose([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79161234567");
        Write(form, "Hello");
        return QDialog::Rejected;
    });
    Compose([&](QDialog& form) -> int {
        EXPECT_EQ(RecipientText(form), "");
        EXPECT_EQ(In<QPlainTextEdit>(form, "MessageText")->toPlainText(), "");
        EXPECT_EQ(Counter(form), "Сообщений: 0");
        return QDialog::Rejected;
    });
}

TEST_F(ComposeTest, UnsendableItemsAreNamedAndTheOthersQueued) {
    Compose([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText(" +79161234567,,Иван 112, ");
        Write(form, "Hello");
        return QDialog::Accepted;
    });
    EXPECT_EQ(Window().Recipients(),
              (std::vector<std::string>{"+79161234567", "", W("Иван"), "112"}));
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Warning);
    EXPECT_EQ(dialogs_.Messages()[0].text,
              "Сообщение не будет отправлено этим получателям:\n"
              "\"\": пустой номер\n"
              "\"Иван\": не номер телефона: допустимы только цифры и \"+\" в начале");
}

// ---- The draft ----

// Escape with a text asks; the kept draft, every character of it, is there at the
// next compose after a new start, and sending it leaves no draft behind.
// With a pool the user may name the modem; "любой" keeps what a reply asked for.
TEST_F(ComposeTest, AModemPickedSendsThroughItAloneAndAReplyKeepsItsSim) {
    TComposeForm form(Book(), dialogs_, nullptr);
    form.OfferModems({{QStringLiteral("COM5"), "COM5"}});
    EXPECT_TRUE(In<QWidget>(form, "ViaPanel")->isHidden()) << "one modem: nothing to choose";
    form.Prefill({"+79990000002", {}, {}, {"89701990000000000017", false}});
    form.OfferModems(
        {{QStringLiteral("COM5 — Рабочая"), "350000000000001"}, {QStringLiteral("COM6"), "COM6"}});
    EXPECT_FALSE(In<QWidget>(form, "ViaPanel")->isHidden());
    auto* combo = In<QComboBox>(form, "ViaCombo");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(form.Message().route, (app::Route{"89701990000000000017", false}));
    combo->setCurrentIndex(1);
    EXPECT_EQ(form.Message().route, (app::Route{"350000000000001", true}));
}

TEST_F(ComposeTest, EscapeAsksAndAKeptDraftComesBackAfterANewStart) {
    const QString text = QString(QStringLiteral("Длинный текст 😀 ")).repeated(18) + "\nконец";
    dialogs_.AnswerQuestion(kKeep);
    Compose([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79161234567, +79990000002");
        Write(form, text);
        QTest::keyClick(&form, Qt::Key_Escape);
        return form.result();
    });
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_EQ(dialogs_.Messages()[0].kind, MessageKind::Question);
    ASSERT_TRUE(KeptDraft());
    EXPECT_EQ(KeptDraft()->text, text.toStdString());

    ReopenWindow();
    Compose([&](QDialog& form) -> int {
        EXPECT_EQ(RecipientText(form), "+79161234567, +79990000002");
        EXPECT_EQ(In<QPlainTextEdit>(form, "MessageText")->toPlainText(), text);
        return QDialog::Accepted;
    });
    EXPECT_EQ(Window().Recipients(), (std::vector<std::string>{"+79161234567", "+79990000002"}));
    EXPECT_FALSE(KeptDraft()) << "a sent draft is gone";
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

// "Вернуться" leaves the window open with its text; "Не сохранять" closes it and
// writes nothing; a draft brought back and closed unchanged stays as it was, and
// one discarded or erased is gone.
TEST_F(ComposeTest, GoingBackKeepsTheWindowAndDiscardingKeepsNothing) {
    int closed = 0;
    dialogs_.AnswerQuestion(kBack);
    dialogs_.AnswerQuestion(kDiscard);
    Compose([&](QDialog& form) -> int {
        QObject::connect(&form, &QDialog::finished, [&] { ++closed; });
        Write(form, "Привет");
        form.reject();
        EXPECT_EQ(closed, 0) << "went back";
        EXPECT_EQ(In<QPlainTextEdit>(form, "MessageText")->toPlainText(), "Привет");
        form.reject();
        EXPECT_EQ(closed, 1);
        return form.result();
    });
    EXPECT_FALSE(files::Exists(DraftPath()));

    ASSERT_TRUE(compose::SaveDraft(DraftPath(), {"+79161234567", "Черновик"}));
    Compose([&](QDialog& form) -> int {
        form.reject();  // unchanged: no question
        return form.result();
    });
    EXPECT_EQ(KeptDraft(), (compose::Draft{"+79161234567", "Черновик"}));

    dialogs_.AnswerQuestion(kDiscard);
    Compose([&](QDialog& form) -> int {
        Write(form, "Черновик, дописанный");
        form.reject();
        return form.result();
    });
    EXPECT_FALSE(KeptDraft());

    ASSERT_TRUE(compose::SaveDraft(DraftPath(), {"+79161234567", "Черновик"}));
    Compose([&](QDialog& form) -> int {
        Write(form, "");
        form.reject();  // no text: nothing to ask about
        return form.result();
    });
    EXPECT_FALSE(KeptDraft());
    EXPECT_TRUE(dialogs_.AllAnswersUsed());
}

// A text that could not be queued is not lost with the window; a draft file that
// cannot be read is told and copied aside, and the window opens empty.
TEST_F(ComposeTest, AnUnqueuedTextStaysAsTheDraftAndABrokenDraftIsTold) {
    Compose([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("Иван");
        Write(form, "Текст");
        return QDialog::Accepted;
    });
    EXPECT_EQ(KeptDraft(), (compose::Draft{"Иван", "Текст"}));

    ASSERT_TRUE(files::SaveDurably(DraftPath(), "мусор"));
    Compose([&](QDialog& form) -> int {
        EXPECT_EQ(In<QPlainTextEdit>(form, "MessageText")->toPlainText(), "");
        return QDialog::Rejected;
    });
    ASSERT_EQ(dialogs_.Messages().size(), 2u);
    EXPECT_EQ(dialogs_.Messages()[1].kind, MessageKind::Error);
    EXPECT_TRUE(dialogs_.Messages()[1].text.startsWith("Черновик не прочитан"));
    EXPECT_EQ(*files::ReadAll(DraftPath() + compose::kUnreadableSuffix), "мусор");
}

// ---- The price ----

TEST_F(ComposeTest, ThePriceShowsTheSignatureTheCodingAndTheRoomLeft) {
    Compose([&](QDialog& form) -> int {
        EXPECT_EQ(In<QLabel>(form, "SignatureLabel")->text(),
                  "Подпись: Velka SMS · https://velka-sms.example");
        EXPECT_EQ(In<QLabel>(form, "PriceLabel")->text(), "7 бит, ещё 122");
        EXPECT_TRUE(In<QToolButton>(form, "CheaperButton")->isHidden());
        Write(form, "Встреча в 12:00");
        EXPECT_EQ(In<QLabel>(form, "PriceLabel")->text(), "UCS2, ещё 17");
        EXPECT_TRUE(In<QPlainTextEdit>(form, "MessageText")->extraSelections().isEmpty())
            << "a Russian text has nothing to point at";
        return QDialog::Rejected;
    });
}

// The few characters that make a Latin text UCS2 are marked; the offer replaces them
// in one step that Ctrl+Z takes back.
TEST_F(ComposeTest, TheCharactersThatForceUcs2AreMarkedAndTheirLookAlikesOffered) {
    Compose([&](QDialog& form) -> int {
        auto* edit = In<QPlainTextEdit>(form, "MessageText");
        Write(form, "He said «hi» — ok №5");
        EXPECT_EQ(In<QLabel>(form, "PriceLabel")->text(), "UCS2, ещё 12");
        QStringList marked;
        for (const QTextEdit::ExtraSelection& mark : edit->extraSelections())
            marked << mark.cursor.selectedText();
        EXPECT_EQ(marked, (QStringList{"«", "»", "—", "№"}));

        auto* cheaper = In<QToolButton>(form, "CheaperButton");
        EXPECT_FALSE(cheaper->isHidden());
        const QList<QAction*> offers = cheaper->menu()->actions();
        EXPECT_EQ(offers.size(), 1) << "no Cyrillic letter: nothing to transliterate";
        if (offers.size() != 1) return QDialog::Rejected;
        EXPECT_EQ(offers[0]->text(),
                  "Заменить похожими латинскими знаками: UCS2 → 7 бит, сообщений 1 → 1");
        offers[0]->trigger();
        EXPECT_EQ(edit->toPlainText(), "He said \"hi\" - ok No5");
        EXPECT_EQ(In<QLabel>(form, "PriceLabel")->text(), "7 бит, ещё 101");
        EXPECT_TRUE(edit->extraSelections().isEmpty());
        EXPECT_TRUE(cheaper->isHidden());
        edit->undo();
        EXPECT_EQ(edit->toPlainText(), "He said «hi» — ok №5");
        return QDialog::Rejected;
    });
}

TEST_F(ComposeTest, AShortRussianTextIsOfferedInLatinLettersForHalfThePrice) {
    Compose([&](QDialog& form) -> int {
        Write(form, "Привет! Встречаемся в субботу в 12:00 у входа в парк. Не опаздывай.");
        EXPECT_EQ(Counter(form), "Сообщений: 2  Знаков: 67");
        const QList<QAction*> offers = In<QToolButton>(form, "CheaperButton")->menu()->actions();
        EXPECT_EQ(offers.size(), 1) << "the look-alikes alone leave it UCS2";
        if (offers.size() != 1) return QDialog::Rejected;
        EXPECT_EQ(offers[0]->text(),
                  "Написать латиницей (транслитерация): UCS2 → 7 бит, сообщений 2 → 1");
        offers[0]->trigger();
        EXPECT_EQ(In<QPlainTextEdit>(form, "MessageText")->toPlainText(),
                  "Privet! Vstrechaemsia v subbotu v 12:00 u vkhoda v park. Ne opazdyvai.");
        EXPECT_EQ(Counter(form), "Сообщений: 1  Знаков: 70");
        return QDialog::Rejected;
    });
}

TEST_F(ComposeTest, Screenshots) {
    if (!Screenshots::Enabled()) GTEST_SKIP() << "VELKA_SCREENSHOTS is not set";
    AddThreeContacts();
    AddStored("Семья", "+79035556677", "Мама");
    dialogs_.NameNextScreenshot("compose");
    Compose([&](QDialog& form) -> int {
        Tick(form, 0);
        Tick(form, 2);
        Trigger(form, "pmAddChecked");
        List(form)->selectRow(2);
        Write(form,
              "Привет! Встречаемся в субботу в 12:00 у входа в парк. "
              "Не забудьте взять с собой воду и хорошее настроение.");
        dialogs_.NameNextScreenshot("draft-question");
        dialogs_.AnswerQuestion(kKeep);
        form.reject();
        return form.result();
    });
    dialogs_.NameNextScreenshot("compose-price");
    Compose([&](QDialog& form) -> int {
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79161234567");
        Write(form, "Meeting at 12:00 «Central Park» — gate №3, don't be late!");
        return QDialog::Rejected;
    });
    dialogs_.NameNextScreenshot("compose-draft");
    Compose([](QDialog&) -> int { return QDialog::Rejected; });
    Compose([&](QDialog& form) -> int {
        dialogs_.NameNextScreenshot("warning-recipients");
        In<QLineEdit>(form, "RecepientsEdit")->setText("+79161234567,,Иван");
        Write(form, "Hello");
        return QDialog::Accepted;
    });
}

}  // namespace
}  // namespace velka::gui::testing
