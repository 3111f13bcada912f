// The sink of the reception that keeps what the modem holds in inbox.db: messages
// as inbox records (and the facts of the parts of long messages in its parts
// file, store/parts_file.h), status reports in reports.db beside it, each with its
// identity (modem/identity.h) in inbox.ids, so that a message the modem lists
// again after a kill between the keeping and the delete is known and kept once.
// Threads: whichever drives the session; the box lock (store/box_lock.h) keeps
// other processes' writers out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "modem/session.h"
#include "store/box_lock.h"
#include "store/content_file.h"
#include "store/packet.h"

namespace velka::modem {

class InboxSink final : public ReceptionSink {
  public:
    // `sim_key` gives the key of the SIM the messages come to (app::SimKey), asked
    // at each keeping on the keeping's thread; without it, or when it gives an
    // empty key, the records get no SIM note.
    explicit InboxSink(std::string inbox_path, std::function<std::string()> sim_key = {})
        : inbox_path_(std::move(inbox_path)), sim_key_(std::move(sim_key)) {}

    // Appends what is new of `pdus` in one step under the box lock: the identities
    // first, then the records with their parts' facts and then their SIM notes
    // (store/sim_note_file.h), then the reports, each flushed. A kill between the identities and
    // their records leaves entries that nothing bears out, so the messages are kept again, never
    // lost; one after them leaves identities that a later listing is known by, so nothing is kept
    // twice. A message whose write failed is not on the disk and stays on the modem.
    Kept Keep(const std::vector<std::string>& pdus) override;

  private:
    // The notes of the records just appended from `first_record` on. A note the
    // disk refuses costs the SIM column alone: the records are kept.
    void NoteSim(const store::BoxLock& held, std::uint64_t first_record,
                 const std::vector<packet>& records) const;

    const std::string inbox_path_;
    const std::function<std::string()> sim_key_;
};

// The inbox record of a received PDU (state 1, the sender, the service-centre time
// stamp as date-time text, empty when it names no real date or for an SMS-SUBMIT,
// and the text as sms/received.h reads it, each cut to its field), with its place
// in a long message and, where the record cannot say it all, its content entry.
store::ReceivedRecord MakeReceivedRecord(const std::string& pdu);

}  // namespace velka::modem
