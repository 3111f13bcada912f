// The reception cycle behind Session::Receive: every message the modem holds in
// one storage goes to a sink (modem/inbox_sink.h keeps them in inbox.db). Kept
// first, deleted after: a message is deleted on the modem only once the sink holds
// it, so a crash, a stop or a failed save never loses it; and each message is kept
// once, whatever comes between the keeping and the delete, since the sink knows a
// message listed again.
// Threads: the session's, with the modem initialised (modem/dialogue.h).
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "modem/dialogue.h"
#include "modem/session.h"
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

// One cycle: "AT+CPMS=<storage>" and "AT+CMGF=0" (each "OK" awaited up to 100
// ticks), the input read empty, "AT+CMGL=4" read to its final line; busy answers
// are tried again (RunCommand). The listed messages go to `sink`; then each
// message the sink holds is deleted with "AT+CMGD=<index>", its answer awaited
// before the next. A listing that ends in an error, goes quiet for
// context.listing_idle_limit (30 s) or is cut by the stop flag, or a sink that
// fails, deletes nothing of what it would have held. The stop flag ends the
// deletes; what stays on the modem is deleted by a later cycle, which the sink
// tells it holds already. Direct deliveries read on the way go to
// context.deliveries (StoreDeliveries).
ReceptionReport ReceiveMessages(TComPort& port, std::string_view storage, ReceptionSink& sink,
                                const std::atomic<bool>& stop, ModemContext& context);

// The memories that hold received messages, in the order they are listed: "SM",
// then "ME", or "MT" where the modem offers that and no "ME", then any other memory
// an announcement named at this opening ("SR"). What the modem
// offers is asked with "AT+CPMS=?" once per opening (context->memories); a modem
// that refuses it is listed in "SM" only.
std::vector<std::string> ReceptionMemories(TComPort& port, ModemContext& context,
                                           const std::atomic<bool>& stop);

// ReceiveMessages on each of ReceptionMemories in turn, the reports joined. A
// memory whose listing fails ends the cycle there.
ReceptionReport ReceiveAll(TComPort& port, ReceptionSink& sink, const std::atomic<bool>& stop,
                           ModemContext& context);

// Gives what the modem handed over directly ("+CMT:" messages, "+CDS:" status
// reports) to the sink as a listing's messages are, then acknowledges each with
// "AT+CNMA", whose error answer (a modem that wants none) is ignored. Kept first,
// acknowledged after: a sink that fails leaves them in the context,
// unacknowledged, for the next call.
ReceptionReport StoreDeliveries(TComPort& port, ReceptionSink& sink, const std::atomic<bool>& stop,
                                ModemContext& context);

}  // namespace velka::modem
