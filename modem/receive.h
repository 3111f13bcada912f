// The reception cycle: every message the modem holds in one storage moves into
// inbox.db. Stored first, deleted after: a message is deleted on the modem only
// once its record is on the disk, so a crash, a stop or a failed save may at worst
// store a message twice, never lose it.
// Threads: the worker's thread, with the modem initialised (modem/dialogue.h).
#pragma once

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mutex.h"
#include "platform/result.h"
#include "serial/ser_port.h"
#include "store/packet.h"

namespace velka::modem {

// The SIM storage, with the quotes the command wants.
inline constexpr std::string_view kSimStorage = "\"SM\"";
// A listing during which nothing arrives for this long has been lost.
inline constexpr auto kListingIdleLimit = std::chrono::seconds(30);

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
    bool listed = false;         // the listing came to its "OK"
    std::vector<packet> stored;  // records appended to inbox.db, in listing order
    std::size_t deleted = 0;     // deletes the modem confirmed
    Status saved;                // the append to inbox.db; when it failed, nothing was deleted
    std::size_t unsaved = 0;     // listed messages inbox.db refused; they stay on the modem
};

// Messages that a cycle stored but whose delete the modem did not confirm, as
// (index, PDU). A later cycle given the same set deletes them again without storing
// them a second time, so a modem that refuses deletes does not fill inbox.db.
using StoredNotDeleted = std::set<std::pair<std::string, std::string>>;

// One cycle: "AT+CPMS=<storage>" and "AT+CMGF=0" (each "OK" awaited up to 100
// ticks), flush, "AT+CMGL=4" read to its final line. The listed messages are
// appended to `inbox_path` durably while `file_lock` is held (the lock the box
// views take to read the file); then each stored message is deleted with
// "AT+CMGD=<index>", its answer awaited before the next. A listing that ends in an
// error, goes 30 s without a character or is cut by the stop flag, or a failed
// save, deletes nothing. The stop flag ends the deletes; what stays on the modem
// is stored again by a later cycle, unless `remembered` (kept by the caller from
// cycle to cycle) says it was stored already.
ReceptionReport ReceiveMessages(TComPort& port, std::string_view storage,
                                const std::string& inbox_path, Mutex& file_lock,
                                const std::atomic<bool>& stop,
                                StoredNotDeleted* remembered = nullptr) EXCLUDES(file_lock);

}  // namespace velka::modem
