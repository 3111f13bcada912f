// The rows of a message view: messages of the store files, long messages joined
// (store/joined_box.h), columns "номер абонента", "дата и время", "текст сообщения",
// "состояние" (the delivery state of a sent message), "SIM" (the SIM it came to or
// went through, by the name the user gave it; messages/sim_names.h), narrowed to
// one SIM when the view asks;
// numbers shown with the contact's name where the book knows it; sorted by any
// column (messages/message_list.h) when the view asks. The rows are either all the
// messages of one box, in box order, or messages picked from both boxes (a search,
// a conversation), where the number of each is led by the way it went ("→" sent,
// "←" received) and sent ones are drawn in blue. Texts are decoded only when the
// view asks for them.
#pragma once

#include <QAbstractTableModel>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contacts/number_names.h"
#include "messages/message_list.h"
#include "messages/message_search.h"
#include "messages/sim_names.h"

namespace velka::gui {

// A message of a row, and the box it belongs to.
struct ShownMessage {
    messages::Box box;
    store::JoinedMessage message;
};

// A message's text as its sender wrote it, whatever Windows-1251 lacks.
inline QString WholeTextQt(const store::JoinedMessage& message) {
    return QString::fromStdU16String(message.WholeText());
}

class BoxTableModel final : public QAbstractTableModel {
  public:
    // The state column shows a sent message's delivery state; received ones have none.
    enum Column { kNumber, kDateTime, kText, kState, kSim, kColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // Takes the boxes to show from, the names of their numbers and of their SIMs; a
    // box not given shows nothing. Shows every message of `shown`, in box order.
    void Show(std::array<std::optional<store::JoinedBox>, 2> boxes, contacts::NumberNames names,
              messages::SimNames sims, messages::Box shown);
    // Shows the messages `picked` from the boxes given last, in that order.
    void ShowPicked(std::vector<messages::MessageRef> picked);
    // Keeps of the rows shown those of the SIM of key `sim`; an empty key keeps all.
    void Narrow(std::string_view sim);
    void Clear();

    // Every SIM the boxes given last name, as messages::SimsOf lists them.
    std::vector<std::string> SimKeys() const { return messages::SimsOf(Given()); }
    // The SIM as its column shows it.
    std::string ShownSim(std::string_view key) const { return sim_names_.Shown(key); }

    // REQUIRES: Show was given the box.
    const store::JoinedBox& BoxOf(messages::Box box) const { return *boxes_[Slot(box)]; }
    const contacts::NumberNames& Names() const { return names_; }
    // The message of a row, whole. REQUIRES: 0 <= row < rowCount().
    ShownMessage MessageAt(int row) const;
    // The number as the number column shows it: with the contact's name if known.
    std::string Shown(std::string_view number) const { return names_.Shown(number); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // The display text of a field stops at its first zero byte; line breaks of a
    // text show as blanks, and the whole text is the tool tip.
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

  private:
    static std::size_t Slot(messages::Box box) { return box == messages::Box::Inbox ? 0 : 1; }
    // The boxes given last; null for one not given.
    messages::PickedBoxes Given() const;

    std::array<std::optional<store::JoinedBox>, 2> boxes_;
    contacts::NumberNames names_;
    messages::SimNames sim_names_;
    std::vector<messages::MessageRef> rows_;
    // The rows come from both boxes (a search, a conversation): each shows which way
    // it went.
    bool both_boxes_ = false;
};

}  // namespace velka::gui
