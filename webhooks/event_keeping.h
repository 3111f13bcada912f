// The webhooks' recording without their delivery: the hooks of Config.ini, the
// journal events.db and the recorder the worker calls. Every process that drives
// the modem keeps the events through one, so that none is lost whichever program
// took a message off the SIM or recorded a record as sent; the processes that
// serve for long (the window, velka-sms-cli serve and watch) also post them
// (webhooks/webhook_service.h), and a short one (velka-sms-cli receive, send)
// leaves them in events.db for the next of those. Portable: the Windows build
// keeps events too.
//
// Threads: made and begun on the front end's thread; the recorder runs on the
// worker's, or the caller's of a one-off reception.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/event_recorder.h"
#include "webhooks/event_journal.h"
#include "webhooks/events.h"
#include "webhooks/hooks.h"

namespace velka::webhooks {

inline constexpr char kEventsFile[] = "events.db";

class EventKeeping final : public app::EventRecorder {
  public:
    // Reads the hooks of `program_directory`'s Config.ini and webhooks-secrets.ini.
    // `recorded` runs after each append, on the recording thread.
    explicit EventKeeping(
        const std::string& program_directory, std::function<void()> recorded = [] {});

    // With no hooks set nothing is kept: events.db is neither made nor written.
    void Begin() override;
    Status Received(const std::vector<std::string>& pdus) override;
    Status Sent(const std::vector<app::QueuedRecord>& records) override;
    Status Unsendable(const std::vector<app::QueuedRecord>& records) override;

    const std::vector<Hook>& hooks() const { return hooks_; }
    // Whether Begin opened the journal (or tried): this process took the modem with
    // hooks set.
    bool begun() const { return begun_; }
    // Open once Begin ran with hooks set.
    EventJournal& journal() { return journal_; }
    // What the journal's opening kept aside, or why it failed.
    const Result<std::vector<JournalDamage>>& opening() const { return recorder_.opening(); }

  private:
    const std::vector<Hook> hooks_;
    EventJournal journal_;
    JournalRecorder recorder_;
    bool begun_ = false;  // the front end's thread only
};

}  // namespace velka::webhooks
