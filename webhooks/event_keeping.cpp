#include "webhooks/event_keeping.h"

#include "app/app_core.h"
#include "platform/program_dir.h"

namespace velka::webhooks {

EventKeeping::EventKeeping(const std::string& program_directory, std::function<void()> recorded)
    : hooks_(ReadHooks(InDirectory(program_directory, app::kConfigFile),
                       InDirectory(program_directory, kSecretsFile))),
      journal_(InDirectory(program_directory, kEventsFile)),
      recorder_(
          journal_, [this](const StoredEvent& stored) { return EveryHookDone(hooks_, stored); },
          std::move(recorded)) {}

void EventKeeping::Begin() {
    if (hooks_.empty()) return;
    recorder_.Begin();
    begun_ = true;
}

Status EventKeeping::Received(const std::vector<std::string>& pdus) {
    if (hooks_.empty()) return {};
    return recorder_.Received(pdus);
}

Status EventKeeping::Sent(const std::vector<app::QueuedRecord>& records) {
    if (hooks_.empty()) return {};
    return recorder_.Sent(records);
}

Status EventKeeping::Unsendable(const std::vector<app::QueuedRecord>& records) {
    if (hooks_.empty()) return {};
    return recorder_.Unsendable(records);
}

}  // namespace velka::webhooks
