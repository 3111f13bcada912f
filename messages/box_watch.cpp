#include "messages/box_watch.h"

#include <algorithm>
#include <utility>

#include "store/parts_file.h"
#include "store/sent_file.h"
#include "store/store_file.h"

namespace velka::messages {

BoxWatch::BoxWatch(std::string inbox_path, std::string outbox_path) {
    paths_[kInboxParts] = store::PartsPathFor(inbox_path);
    paths_[kInboxContent] = store::ContentPathFor(inbox_path);
    paths_[kReports] = store::ReportsPathBeside(inbox_path);
    paths_[kOutboxStates] = store::SentPathFor(outbox_path);
    paths_[kInbox] = std::move(inbox_path);
    paths_[kOutbox] = std::move(outbox_path);
    Seen();
}

std::array<files::FileStamp, BoxWatch::kWatchedCount> BoxWatch::Stamps() const {
    std::array<files::FileStamp, kWatchedCount> stamps;
    for (std::size_t i = 0; i < stamps.size(); ++i) stamps[i] = files::StampOf(paths_[i]);
    return stamps;
}

void BoxWatch::Seen() {
    seen_ = Stamps();
}

// Records first..end of the box, with their parts' facts and content entries. A
// side file that cannot be read costs only what it would add.
std::vector<store::ReceivedRecord> BoxWatch::Arrivals(const store::BoxFile& box, std::size_t first,
                                                      std::size_t end) const {
    std::vector<store::ReceivedRecord> arrived;
    for (std::size_t i = first; i < end; ++i) arrived.push_back({box.at(i), {}, {}});
    if (arrived.empty()) return arrived;
    if (const auto parts = store::LoadParts(paths_[kInboxParts])) {
        for (const store::PartEntry& entry : *parts) {
            if (entry.record < first || entry.record >= end) continue;
            store::ReceivedRecord& kept = arrived[entry.record - first];
            if (kept.record.checksum == entry.checksum) kept.part = entry.facts;
        }
    }
    if (const auto contents = store::LoadContentIndex(paths_[kInbox])) {
        for (std::size_t i = first; i < end; ++i) {
            store::ReceivedRecord& kept = arrived[i - first];
            if (const auto* content = contents->Find(i, kept.record.checksum))
                kept.content = *content;
        }
    }
    return arrived;
}

BoxWatch::Changes BoxWatch::Look() {
    const auto now = Stamps();
    const auto changed = [&](Watched file) { return !(now[file] == seen_[file]); };
    Changes changes;
    changes.inbox = changed(kInbox) || changed(kInboxParts) || changed(kInboxContent);
    changes.outbox = changed(kOutbox) || changed(kOutboxStates) || changed(kReports);
    const files::FileStamp& was = seen_[kInbox];
    const files::FileStamp& is = now[kInbox];
    // The same file grown: appended to, so the records past the old end are new.
    // A file replaced (a delete rewrote it) tells nothing of what is new in it.
    const bool appended = is.identity == was.identity && is.size > was.size && was.identity != 0;
    const bool created = was.identity == 0 && is.identity != 0;
    if (appended || created) {
        // Records appended after the look are news of the next one.
        if (const auto box = store::BoxFile::Open(paths_[kInbox])) {
            const std::size_t end = std::min<std::size_t>(box->size(), is.size / kPacketSize);
            const std::size_t first = appended ? was.size / kPacketSize : 0;
            changes.arrived = Arrivals(*box, first, end);
        }
    }
    seen_ = now;
    return changes;
}

}  // namespace velka::messages
