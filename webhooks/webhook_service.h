// The webhooks of the process that drives the modem, put together: the hooks from
// Config.ini and their secrets, the journal events.db, the recorder the worker
// calls, and the delivery thread. A front end makes one before AppCore::Start and
// gives AppCore its recorder(); the journal opens and the delivery starts when the
// process takes the modem, and nothing happens in a process that does not.
//
// Threads: made, asked and ended on the front end's thread; the recorder runs on
// the worker's; the delivery has its own (webhooks/delivery.h), which it ends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/event_recorder.h"
#include "modem/session.h"
#include "webhooks/delivery.h"
#include "webhooks/event_journal.h"
#include "webhooks/event_keeping.h"
#include "webhooks/events.h"
#include "webhooks/hooks.h"

namespace velka::webhooks {

class WebhookService final : public app::EventRecorder {
  public:
    // Reads the hooks of `program_directory`'s Config.ini and webhooks-secrets.ini.
    // `failing_changed` runs on the delivery thread when a hook begins or ends to
    // keep failing.
    WebhookService(const std::string& program_directory, std::function<void()> failing_changed,
                   DeliveryTiming timing = {});
    // Stops the delivery. The worker must have ended.
    ~WebhookService() override;

    void Begin() override;
    Status Received(const std::vector<std::string>& pdus) override {
        return keeping_.Received(pdus);
    }
    Status Sent(const std::vector<app::QueuedRecord>& records) override {
        return keeping_.Sent(records);
    }
    Status Unsendable(const std::vector<app::QueuedRecord>& records) override {
        return keeping_.Unsendable(records);
    }

    // The modem's state changed (WorkerEvents::on_modem_state, worker's thread):
    // told to the hooks that want modem:state. A state the disk refuses is lost:
    // the next change tells the state anew.
    void ModemStateChanged(const modem::ModemStatus& status);

    // The URLs of the hooks that keep failing. Any thread.
    std::vector<std::string> FailingHooks() const;
    // What the journal's opening kept aside, or why it failed.
    const Result<std::vector<JournalDamage>>& opening() const { return keeping_.opening(); }

  private:
    EventKeeping keeping_;
    Delivery delivery_;
    bool started_ = false;  // front end's thread only
};

// The short word modem:state gives for a state ("ready", "no_sim", ...).
std::string ModemStateWord(modem::ModemState state);

}  // namespace velka::webhooks
