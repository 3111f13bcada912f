// Events for other programs (the webhooks' journal), recorded at the two moments a
// kill must not lose one: before a received message is deleted on the modem, and
// before a sent or unsendable record is appended to outbox.db or unsent.db. The
// worker calls the recorder at those moments; what it does with them belongs to
// whoever gave it (the webhooks module). A process that tells nobody uses
// NoEventRecorder().
#pragma once

#include <string>
#include <vector>

#include "app/outgoing_queue.h"
#include "modem/session.h"
#include "platform/result.h"

namespace velka::app {

class EventRecorder {
  public:
    virtual ~EventRecorder() = default;
    // This process has taken the modem (it holds worker.lock): the recorder opens
    // what it keeps events in. Called once, on the front end's thread, before any
    // call below; what fails here shows in their failures.
    virtual void Begin() = 0;
    // Each returns once the events are on the disk, or an Error; the same fact may
    // be passed again (after a kill, or a write refused before) and must then be
    // kept once. The thread that drives the modem: the worker's, or the caller's
    // of a one-off reception.

    // `pdus` (messages and status reports, SMSC part included) are kept in the
    // store files now or were before, and are about to be deleted on the modem.
    virtual Status Received(const std::vector<std::string>& pdus) = 0;
    // The records are about to be appended to outbox.db (sent) or unsent.db (can
    // never be sent).
    virtual Status Sent(const std::vector<QueuedRecord>& records) = 0;
    virtual Status Unsendable(const std::vector<QueuedRecord>& records) = 0;
};

// The recorder of a process that tells no one: records nothing, never fails.
EventRecorder& NoEventRecorder();

// The reception's sink with the events recorded between the keeping and the
// delete: what `kept_by` keeps is deleted on the modem only once the recorder has
// its events, so a kill after the keeping leaves the message on the modem, known
// as kept, and the next reception records it before it deletes it.
class RecordedReception final : public modem::ReceptionSink {
  public:
    // Both must outlive it.
    RecordedReception(modem::ReceptionSink& kept_by, EventRecorder& recorder)
        : kept_by_(kept_by), recorder_(recorder) {}

    Kept Keep(const std::vector<std::string>& pdus) override;

  private:
    modem::ReceptionSink& kept_by_;
    EventRecorder& recorder_;
};

}  // namespace velka::app
