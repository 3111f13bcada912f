#include "messages/box_rows.h"

#include <utility>

#include "messages/delivery_states.h"
#include "store/content_file.h"
#include "store/joined_box.h"
#include "store/sim_note_file.h"
#include "store/store_file.h"

namespace velka::messages {
namespace {

Result<BoxRows> RecordRows(const std::string& path, bool states) {
    const auto box = store::BoxFile::Open(path);
    if (!box) return box.error();
    BoxRows result;
    std::vector<std::string> by_record;
    if (states) {
        auto texts = LoadStateTexts(path, *box);
        if (texts) {
            by_record = std::move(texts->by_record);
        } else {
            result.states_error = texts.error();
        }
    }
    auto contents = store::LoadContentIndex(path);
    if (!contents) return contents.error();
    store::RecordSims sims;
    if (const auto notes = store::LoadSimNotes(store::SimNotesPathFor(path))) {
        sims = store::RecordSims(*box, notes->entries);
    } else {
        result.sims_error = notes.error();
    }
    for (std::size_t i = 0; i < box->size(); ++i) {
        const packet record = box->at(i);
        BoxRow row;
        row.number = record.number_text();
        row.datetime = record.datetime_text();
        row.text = record.text_text();
        if (i < by_record.size()) row.state = by_record[i];
        row.sim = sims.At(i);
        if (const store::RecordContent* content = contents->Find(i, record.checksum)) {
            if (content->body == store::ContentBody::WholeText) row.whole = content->text;
            if (content->body == store::ContentBody::Data) row.data = content->data;
        }
        result.rows.push_back(std::move(row));
    }
    return result;
}

Result<BoxRows> JoinedRows(const std::string& path, bool states) {
    BoxRows result;
    std::optional<store::JoinedBox> box;
    if (states) {
        auto sent = OpenSentBox(path);
        if (!sent) return sent.error();
        result.states_error = std::move(sent->states_error);
        box.emplace(std::move(sent->box));
    } else {
        auto joined = store::JoinedBox::Open(path);
        if (!joined) return joined.error();
        box.emplace(std::move(*joined));
    }
    result.sims_error = box->sims_error();
    for (std::size_t i = 0; i < box->size(); ++i) {
        store::JoinedMessage message = box->at(i);
        result.rows.push_back({std::move(message.number), std::move(message.datetime),
                               std::move(message.text), std::move(message.state),
                               std::move(message.whole), std::move(message.data),
                               std::move(message.sim)});
    }
    return result;
}

}  // namespace

Result<BoxRows> ReadBoxRows(const std::string& path, bool parts_apart, bool states) {
    return parts_apart ? RecordRows(path, states) : JoinedRows(path, states);
}

}  // namespace velka::messages
