// A store file as people read it: one message per row, the parts of a long message
// (same sender, reference and number of parts, as its parts file records them)
// joined in part order. Rows stand in the order in which each message's first part
// arrived; a message is dated by its first part that came, in part order. A part that has not come
// shows as a mark
// "[часть 2 из 3 ещё не пришла]" where its text belongs. A part stored twice (a
// delete the modem did not confirm) shows once. A sender's reference comes round
// again after 256 (or 65,536) long messages: a part whose place is taken by a
// different text starts a new message. Records without parts entries (older
// files, single messages) show as they are. A message whose protocol identifier
// says "replace" (store/content_file.h) hides the earlier one from the same sender
// with the same identifier.
//
// The joining pass reads only the records that are parts; texts are decoded when
// a row is asked for. Opening a box of many records keeps what the joining made in
// the joining index beside it (store/joined_index.h), so that the next opening
// joins only the records appended since. An instance belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "store/content_file.h"
#include "store/joined_index.h"
#include "store/parts_file.h"
#include "store/sim_note_file.h"
#include "store/store_file.h"

namespace velka::store {

// One message as shown: Windows-1251 texts.
struct JoinedMessage {
    std::string number;
    std::string datetime;
    std::string text;                  // the parts' texts in order, gaps marked
    std::vector<std::size_t> records;  // the records that carry it, in part order
    std::size_t missing = 0;           // parts that have not come
    std::string state;                 // the delivery state of a sent message; empty when not known
    // The text whole, parts joined, when `text` lost characters Windows-1251 lacks
    // (it holds "?" for them); empty when `text` is whole. WholeText() gives either.
    std::u16string whole;
    std::string data;  // a binary message's payload, its parts' joined; empty for a text
    // The key of the SIM it came to or went through, as its first record's note
    // says (store/sim_note_file.h); empty when not known.
    std::string sim;
    // What its first part came with (content file), when its record could not say
    // it all: the coding scheme that makes it a flash message, the header, the
    // protocol identifier.
    std::optional<RecordContent> content;

    // The text to show: `whole` where the record lost characters, else `text`.
    std::u16string WholeText() const;
};

// The text that stands in for a part that has not come: "[часть 2 из 3 ещё не пришла]".
std::string MissingPartMark(std::size_t number, std::size_t total);

class JoinedBox {
  public:
    // The store file and its parts file. A missing file is an empty box; a parts
    // file that cannot be read is an error, so that parts never silently show apart.
    // The two files are read under the box lock (store/box_lock.h), so that they
    // agree, and joined after it is released: the mapping stays a consistent
    // picture of the file, which writers only append to or replace whole. The
    // joining index is taken where it still speaks of these files, and written
    // again when kReindexAfter records or more had to be joined without it; an
    // index that cannot be written costs the next opening time, nothing else.
    static Result<JoinedBox> Open(const std::string& box_path);
    // Joins the records of `box` by `parts`, with what `contents` add to them.
    static JoinedBox Join(BoxFile box, std::span<const PartEntry> parts,
                          ContentIndex contents = {});

    std::size_t size() const { return rows_.size(); }
    // REQUIRES: row < size()
    JoinedMessage at(std::size_t row) const;
    const BoxFile& box() const { return box_; }

    // The delivery state of each record, by position (messages/delivery_states.h words them);
    // a message shows the state of its first record. Records beyond show none.
    void SetStates(std::vector<std::string> by_record);

    // The key of the SIM of the message at `row`, as at(row).sim gives it, without
    // decoding its texts. REQUIRES: row < size()
    std::string_view SimAt(std::size_t row) const;
    // Every SIM the box's notes name, in the order of their first notes.
    const std::vector<std::string>& SimKeys() const { return sims_.keys(); }
    // Why the SIM notes could not be read (Open): the messages show without their
    // SIMs. Nothing when they were read.
    const std::optional<Error>& sims_error() const { return sims_error_; }

    // Records joined without an index before the opening writes one: below it,
    // the joining costs less than writing the index would.
    static constexpr std::size_t kReindexAfter = 1024;

  private:
    JoinedBox(BoxFile box, JoinState state, ContentIndex contents);
    // Joins the records of `box` from state.records on, by `parts` in record order.
    static void JoinFrom(const BoxFile& box, std::span<const PartEntry> parts, JoinState& state);
    void HideReplaced();
    // The whole text of a row some of whose parts' records lost characters.
    std::u16string JoinWhole(std::size_t row,
                             const std::vector<const std::u16string*>& whole_parts) const;

    // The record that stands first in the row: where its date, number and SIM come from.
    std::optional<std::uint32_t> FirstRecordOf(std::size_t row) const;

    BoxFile box_;
    std::vector<std::string> states_;  // by record
    RecordSims sims_;
    std::optional<Error> sims_error_;
    std::vector<JoinedRow> rows_;
    std::vector<std::uint32_t> slots_;  // record index per part, or kMissingPart
    ContentIndex contents_;
};

}  // namespace velka::store
