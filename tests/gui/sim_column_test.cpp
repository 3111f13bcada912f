// The SIM of each message in the box views: its column, by the name the user gave
// it or the end of its key, and the pane narrowed to one SIM in a box, a search and
// a conversation.
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>

#include "gui/box_table_model.h"
#include "settings/sim_settings.h"
#include "store/sim_note_file.h"
#include "store/store_file.h"
#include "tests/gui/main_form_fixture.h"
#include "tests/support/box_held.h"

namespace velka::gui::testing {
namespace {

constexpr const char* kNamedSim = "8970199111111111111";
constexpr const char* kOtherSim = "8970199000000222222";

class SimColumn : public MainFormTest {
  protected:
    SimColumn() {
        EXPECT_TRUE(
            settings::WriteSimSettings(home_.File("Config.ini"), kNamedSim, {W("Рабочая"), {}}));
        // Three received messages: to the named SIM, to the other, and one from
        // before the notes, with none.
        Store("inbox.db",
              {{MakePacket("+79160000001", "08.12.2026 9:00:00", "to named"), kNamedSim},
               {MakePacket("+79160000002", "08.12.2026 9:01:00", "to other"), kOtherSim},
               {MakePacket("+79160000003", "08.12.2026 9:02:00", "to no one known"), ""}});
        Store(
            "outbox.db",
            {{MakePacket("+79160000001", "08.12.2026 9:03:00", "reply through other"), kOtherSim}});
    }
    // Records with the SIM each came to or went through, as the worker writes them.
    void Store(const std::string& file, const std::vector<std::pair<packet, std::string>>& sent) {
        const std::string path = home_.File(file);
        std::vector<packet> records;
        std::vector<store::SimNote> notes;
        for (const auto& [record, sim] : sent) {
            if (!sim.empty())
                notes.push_back({static_cast<std::uint32_t>(records.size()), record.checksum, sim});
            records.push_back(record);
        }
        ASSERT_TRUE(store::Append(velka::testing::BoxHeld(path), path, records));
        ASSERT_TRUE(store::AppendSimNotes(velka::testing::BoxHeld(path), path, notes));
    }
    QComboBox* Sims() { return Find<QComboBox>("SimToSearch"); }
    QStringList Offered() {
        QStringList offered;
        for (int i = 0; i < Sims()->count(); ++i) offered << Sims()->itemText(i);
        return offered;
    }
    void Choose(const QString& sim) {
        const int at = Sims()->findText(sim);
        ASSERT_GE(at, 0) << sim.toStdString();
        Sims()->setCurrentIndex(at);
    }
    QStringList Column(int column) {
        QStringList cells;
        for (int row = 0; row < MessageTable()->model()->rowCount(); ++row)
            cells << Cell(MessageTable(), row, column);
        return cells;
    }
    QStringList Texts() { return Column(BoxTableModel::kText); }
};

TEST_F(SimColumn, ShowsTheNameTheUserGaveElseTheEndOfTheKeyAndNothingWithoutANote) {
    Window().show();
    Window().qmInBoxClick();
    EXPECT_EQ(MessageTable()->model()->headerData(BoxTableModel::kSim, Qt::Horizontal).toString(),
              "SIM");
    EXPECT_EQ(Column(BoxTableModel::kSim), QStringList({"Рабочая", "…222222", ""}));
    EXPECT_FALSE(MessageTable()->isColumnHidden(BoxTableModel::kSim));
    MessageTable()->selectRow(1);
    EXPECT_TRUE(Find<QLabel>("ReaderHeader")->text().endsWith("\nSIM: …222222"));
    Window().qmOutBoxClick();
    EXPECT_EQ(Column(BoxTableModel::kSim), QStringList({"…222222"}));
    // At the window's designed size the text keeps a readable share of the width.
    EXPECT_GE(MessageTable()->columnWidth(BoxTableModel::kText),
              MessageTable()->viewport()->width() / 3 - 1);
}

TEST_F(SimColumn, OneSimNarrowsTheBoxTheSearchAndTheConversation) {
    Window().qmInBoxClick();
    EXPECT_EQ(Offered(), QStringList({"Все SIM", "Рабочая", "…222222"}))
        << "the SIMs seen in the box on view";
    Choose("…222222");
    EXPECT_EQ(Texts(), QStringList({"to other"}));

    auto* search = Find<QLineEdit>("MessageSearch");
    search->setText("to");
    EXPECT_EQ(Texts(), QStringList({"to other"})) << "the search keeps the SIM chosen";
    search->setText("o");
    EXPECT_EQ(Texts(), QStringList({"to other", "reply through other"}))
        << "a search spans both boxes, their SIMs too";
    EXPECT_EQ(Offered(), QStringList({"Все SIM", "Рабочая", "…222222"}))
        << "a SIM of both boxes is offered once";
    Choose("Все SIM");
    EXPECT_EQ(Texts().size(), 4);
    search->clear();

    MessageTable()->selectRow(0);
    Action("actConversation")->trigger();
    EXPECT_EQ(Offered().first(), "Все SIM");
    EXPECT_EQ(Sims()->currentIndex(), 0) << "a new conversation starts with every SIM";
    EXPECT_EQ(Texts(), QStringList({"to named", "reply through other"}));
    Choose("Рабочая");
    EXPECT_EQ(Texts(), QStringList({"to named"}));
    Choose("…222222");
    EXPECT_EQ(Texts(), QStringList({"reply through other"}));

    Window().qmInBoxClick();
    EXPECT_EQ(Sims()->currentIndex(), 0) << "another box starts with every SIM";
    EXPECT_EQ(Texts().size(), 3);
}

TEST_F(SimColumn, NotesThatCannotBeReadAreToldOnceAndTheMessagesStillShow) {
    const std::string notes = store::SimNotesPathFor(home_.File("inbox.db"));
    std::filesystem::remove(notes);
    std::filesystem::create_directory(notes);  // a folder cannot be read as a file
    Window().qmInBoxClick();
    EXPECT_EQ(Texts().size(), 3);
    EXPECT_EQ(Column(BoxTableModel::kSim), QStringList({"", "", ""}));
    EXPECT_TRUE(MessageTable()->isColumnHidden(BoxTableModel::kSim)) << "no SIM known";
    EXPECT_TRUE(Sims()->isHidden());
    ASSERT_EQ(dialogs_.Messages().size(), 1u);
    EXPECT_TRUE(dialogs_.Messages()[0].text.startsWith("SIM сообщений не показаны: "));
    Window().qmInBoxClick();
    EXPECT_EQ(dialogs_.Messages().size(), 1u) << "not again at each refresh";
}

}  // namespace
}  // namespace velka::gui::testing
