// The reception cycle: every message the modem holds in one storage moves into
// inbox.db. Stored first, deleted after: a message is deleted on the modem only
// once its record is on the disk, so a crash, a stop or a failed save never loses
// it; and each message is stored once, whatever comes between the store and the
// delete, since its identity (modem/identity.h) is kept beside inbox.db in the
// same step (store/identity_file.h) and a message listed again is known by it.
// Threads: the worker's thread, with the modem initialised (modem/dialogue.h).
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "modem/dialogue.h"
#include "modem/status_report.h"
#include "platform/result.h"
#include "serial/ser_port.h"
#include "store/packet.h"

namespace velka::modem {

// The SIM storage, with the quotes the command wants.
inline constexpr std::string_view kSimStorage = "\"SM\"";

struct ListedMessage {
    std::string index;  // decimal digits, as the modem gave them
    std::string pdu;    // upper-case hexadecimal, SMSC part included
};

// The messages of an "AT+CMGL" answer, in its order. A header line is
// "+CMGL: <index>,<status>,[<alpha>],<length>"; its PDU is the next line made only
// of hexadecimal digits whose length fits the header's, so that unsolicited lines
// and noise between the two are passed over. A header with a bad index, or with no
// such line before the next header, is left out: neither stored nor deleted.
std::vector<ListedMessage> ParseListing(const std::vector<std::string>& lines);

// The inbox record of a received PDU: state 1, the sender, the service-centre time
// stamp as date-time text (empty when it names no real date, or for an SMS-SUBMIT)
// and the decoded text, each cut to its field.
packet MakeInboxRecord(const std::string& pdu);

struct ReceptionReport {
    bool listed = false;                       // the listing came to its "OK"
    std::vector<packet> stored;                // records appended to inbox.db, in listing order
    std::vector<store::StatusReport> reports;  // status reports appended to reports.db
    std::size_t deleted = 0;                   // deletes the modem confirmed
    Status saved;             // the appends; what a failed one should have held stays on the modem
    std::size_t unsaved = 0;  // listed messages the files refused; they stay on the modem
};

// One cycle: "AT+CPMS=<storage>" and "AT+CMGF=0" (each "OK" awaited up to 100
// ticks), the input read empty, "AT+CMGL=4" read to its final line; busy answers
// are tried again (RunCommand). The listed messages that were not stored before
// are appended to `inbox_path` (and the facts of the parts of long messages to its
// parts file, store/parts_file.h) and the listed status reports to reports.db
// beside it, durably, under the box lock (store/box_lock.h), with their
// identities; then each message on the disk, stored now or before, is deleted
// with "AT+CMGD=<index>", its answer awaited before the next. A listing that ends
// in an error, goes quiet for context->listing_idle_limit (30 s) or is cut by the
// stop flag, or a failed save, deletes nothing of what it would have held. The
// stop flag ends the deletes; what stays on the modem is deleted by a later
// cycle, which knows it was stored. Direct deliveries read on the way go to
// context->deliveries (StoreDeliveries).
ReceptionReport ReceiveMessages(TComPort& port, std::string_view storage,
                                const std::string& inbox_path, const std::atomic<bool>& stop,
                                ModemContext* context = nullptr);

// The memories that hold received messages, in the order they are listed: "SM",
// then "ME", or "MT" where the modem offers that and no "ME". What the modem
// offers is asked with "AT+CPMS=?" once per opening (context->memories); a modem
// that refuses it is listed in "SM" only.
std::vector<std::string> ReceptionMemories(TComPort& port, ModemContext& context,
                                           const std::atomic<bool>& stop);

// ReceiveMessages on each of ReceptionMemories in turn, the reports joined. A
// memory whose listing fails ends the cycle there.
ReceptionReport ReceiveAll(TComPort& port, const std::string& inbox_path,
                           const std::atomic<bool>& stop, ModemContext& context);

// Stores what the modem handed over directly ("+CMT:" messages into inbox.db and
// the facts of their parts into its parts file, "+CDS:" status reports into
// reports.db) as a listing's messages are stored, known by the same identities,
// then acknowledges each with "AT+CNMA", whose error answer (a modem that wants
// none) is ignored. Stored first, acknowledged after: a failed save keeps them in
// the context, unacknowledged, for the next call.
ReceptionReport StoreDeliveries(TComPort& port, const std::string& inbox_path,
                                const std::atomic<bool>& stop, ModemContext& context);

}  // namespace velka::modem
