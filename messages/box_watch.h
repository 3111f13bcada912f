// Notices what another process wrote to the store files, for a window that does
// not drive the modem itself (velka-sms-cli watch receives beside it) or that
// another program sends beside: a look at the files' stamps, no reading unless
// the inbox grew. Records appended to inbox.db since the last look are arrivals,
// to be marked unread and told; a rewrite (a delete, here or elsewhere) is only a
// change of the view.
//
// Threads: one at a time (the front end's).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/files.h"
#include "store/content_file.h"
#include "store/packet.h"
#include "store/store_file.h"

namespace velka::messages {

class BoxWatch {
  public:
    // Takes the files as they are now as seen.
    BoxWatch(std::string inbox_path, std::string outbox_path);

    struct Changes {
        bool inbox = false;   // inbox.db or a file beside it that the view shows changed
        bool outbox = false;  // outbox.db, its states or reports.db changed
        // Records appended to inbox.db since the last look, with what the side files say of them.
        std::vector<store::ReceivedRecord> arrived;
    };
    // What changed since the last look, or since the last Seen().
    Changes Look();
    // Takes the files as they are now as seen: after this process's own writes,
    // whose news it has had already.
    void Seen();

  private:
    enum Watched {
        kInbox,
        kInboxParts,
        kInboxContent,
        kOutbox,
        kOutboxStates,
        kReports,
        kWatchedCount
    };
    std::array<files::FileStamp, kWatchedCount> Stamps() const;
    std::vector<store::ReceivedRecord> Arrivals(const store::BoxFile& box, std::size_t first,
                                                std::size_t end) const;

    std::array<std::string, kWatchedCount> paths_;
    std::array<files::FileStamp, kWatchedCount> seen_{};
};

}  // namespace velka::messages
