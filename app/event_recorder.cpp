#include "app/event_recorder.h"

#include <algorithm>

namespace velka::app {
namespace {

class Nobody final : public EventRecorder {
  public:
    void Begin() override {}
    Status Received(const std::vector<std::string>&) override { return {}; }
    Status Sent(const std::vector<QueuedRecord>&) override { return {}; }
    Status Unsendable(const std::vector<QueuedRecord>&) override { return {}; }
};

}  // namespace

EventRecorder& NoEventRecorder() {
    static Nobody nobody;
    return nobody;
}

// Messages kept by an earlier cycle are passed again too: a kill between their
// keeping and their events left them on the modem without events.
modem::ReceptionSink::Kept RecordedReception::Keep(const std::vector<std::string>& pdus) {
    Kept kept = kept_by_.Keep(pdus);
    std::vector<std::string> on_disk;
    for (std::size_t i = 0; i < pdus.size(); ++i)
        if (kept.on_disk[i]) on_disk.push_back(pdus[i]);
    if (on_disk.empty()) return kept;
    if (Status recorded = recorder_.Received(on_disk); !recorded) {
        // Kept, but not deleted on the modem until their events are on the disk.
        std::fill(kept.on_disk.begin(), kept.on_disk.end(), false);
        if (kept.status) kept.status = std::move(recorded);
    }
    return kept;
}

}  // namespace velka::app
