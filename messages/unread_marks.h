// Which received messages the user has not read yet, kept in inbox.unread beside
// inbox.db (docs/unread-file.md), so that the marks survive a restart without a
// byte of the 1076-byte records changing. A record is named by a 64-bit hash of
// its bytes: the store files have no ids, and a deletion shifts every position.
//
// Two windows on one program directory may keep marks at once: each saves what it
// changed into the file as it is then, under the box lock (store/box_lock.h), so
// neither throws away the other's marks.
//
// Threads: the front end's only.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "contacts/number_names.h"
#include "platform/result.h"
#include "store/content_file.h"
#include "store/joined_box.h"
#include "store/packet.h"

namespace velka::messages {

// The file beside inbox.db.
inline constexpr const char* kUnreadFile = "inbox.unread";

// FNV-1a of the record's 1076 bytes as the store file holds them.
std::uint64_t RecordKey(const packet& record);

class UnreadMarks {
  public:
    // The marks kept at `path`; a missing file holds none. Lines that are no key
    // are passed over (those messages count as read): a damaged file costs marks,
    // never a message. Fails only when the file exists and cannot be read.
    static Result<UnreadMarks> Load(const std::string& path);

    // Marks the records unread; gives whether anything changed.
    bool AddUnread(const std::vector<packet>& arrived);
    // Marks the records of `message` (rows of `inbox`) read; gives whether anything changed.
    bool MarkRead(const store::JoinedBox& inbox, const store::JoinedMessage& message);
    // The messages of `inbox` with at least one unread part. Marks of records no
    // longer in the box (deleted) count for nothing.
    std::size_t CountUnread(const store::JoinedBox& inbox) const;

    // Writes the marks changed since the last Save into the file as it is now,
    // whole and durably (a new file renamed over the old), under the box lock, and
    // takes in the marks others wrote meanwhile. On failure the changes are kept
    // for the next Save.
    Status Save();

  private:
    explicit UnreadMarks(std::string path) : path_(std::move(path)) {}
    // The keys of the file; a missing file holds none.
    static Result<std::set<std::uint64_t>> ReadKeys(const std::string& path);

    std::string path_;
    std::set<std::uint64_t> keys_;
    std::set<std::uint64_t> added_;  // since the last Save
    std::set<std::uint64_t> read_;   // since the last Save
};

// A system-tray notification of arrived messages: the sender's contact name (the
// number when the book has none) and the start of the first message's text (its
// first part that came in the batch, led by "..." when that is not the first
// part), whole; for messages from several senders, "Новых сообщений: N", N
// counting a long message once.
struct ArrivalNotice {
    std::string title;    // Windows-1251
    std::u16string text;  // the text as the sender wrote it, whatever Windows-1251 lacks
};
ArrivalNotice NoticeOf(const std::vector<store::ReceivedRecord>& arrived,
                       const contacts::NumberNames& names);

// A flash message (message class 0): shown at once in a window of its own, as
// phones show it: the sender as in a notice, and the text whole.
struct FlashNotice {
    std::string title;    // Windows-1251
    std::u16string text;  // whole
};
std::vector<FlashNotice> FlashNoticesOf(const std::vector<store::ReceivedRecord>& arrived,
                                        const contacts::NumberNames& names);

// The start of a message text for a list or a notification: its first line, at
// most `length` characters (a surrogate pair is never cut), with "..." when cut.
std::string TextStart(const std::string& text, std::size_t length = 40);
std::u16string TextStart(const std::u16string& text, std::size_t length = 40);

}  // namespace velka::messages
