#include "modem/session.h"

#include <utility>

#include "modem/dialogue.h"
#include "modem/phone_book_dialogue.h"
#include "modem/receive.h"
#include "modem/send.h"
#include "modem/sim.h"
#include "modem/ussd.h"
#include "platform/com_name.h"
#include "platform/datetime.h"
#include "serial/ser_port.h"

namespace velka::modem {

struct Session::Line {
    Line(const StopSignal& stop_signal, Registry& registry_in)
        : stop(stop_signal), registry(registry_in) {
        port.SetStopFlag(&stop);
        ConfigurePort(port);
    }

    const StopSignal& stop;
    Registry& registry;
    TComPort port;
    ModemContext context;
    std::optional<UssdRequestForm> ussd_form;  // the form this modem took a request in
};

namespace {

// The listing rounds of one reception cycle at the most, so that a modem that keeps
// announcing cannot hold the cycle for ever; what is left waits for the next one.
constexpr int kMostListingRounds = 8;

// The reports of the parts of one cycle as one.
void Join(ReceptionReport& total, ReceptionReport&& part) {
    for (auto& record : part.stored) total.stored.push_back(std::move(record));
    for (store::StatusReport& report : part.reports) total.reports.push_back(std::move(report));
    total.deleted += part.deleted;
    total.unsaved += part.unsaved;
    if (total.saved && !part.saved) total.saved = std::move(part.saved);
}

}  // namespace

Session::Session(const StopSignal& stop, Registry& registry)
    : line_(std::make_unique<Line>(stop, registry)) {}

Session::~Session() {
    Close();
}

void Session::Bind(std::uint16_t port_number) {
    if (port_number == line_->port.ComNumber()) return;
    Close();
    line_->port.SetComNumber(port_number);
    line_->context.announcements_trusted = true;
    line_->context.refused_commands.clear();  // another port, perhaps another modem
    line_->ussd_form.reset();
}

std::uint16_t Session::PortNumber() const {
    return line_->port.ComNumber();
}

void Session::GivePin(std::string pin) {
    line_->context.pin = std::move(pin);
}

bool Session::Open() {
    const bool ready = InitModem(line_->port, line_->stop, line_->context);
    // The port component says "access denied" alike for a port held by another
    // program and for one the user may not open; only the device's permissions
    // tell the second, which the user can mend.
    if (line_->context.status.state == ModemState::PortMissing) {
        if (auto denial = ComPortDenial(line_->registry, ComName(PortNumber()))) {
            line_->context.status = {ModemState::PortDenied, -1, std::move(denial)};
        }
    }
    return ready;
}

ModemStatus Session::Status() const {
    return line_->context.status;
}

ModemInfo Session::Info() const {
    return line_->context.info;
}

DeviceIdentity Session::Identity() const {
    return line_->context.identity;
}

bool Session::Announces() const {
    return line_->context.announcing.value_or(false);
}

Reception Session::ReceptionMode() const {
    if (!Announces()) return Reception::Polled;
    return line_->context.announcements_trusted ? Reception::Announced : Reception::Distrusted;
}

bool Session::PortOpen() const {
    return line_->port.Open();
}

SendResult Session::Send(const packet& record, SendPosition& position, DeliveryReports reports,
                         const OnConfirmed& confirmed, std::u16string_view whole) {
    // A text none of whose messages went out starts afresh under a new reference;
    // one cut short goes on under the reference its first messages carry, so that
    // the recipient's phone still joins the parts.
    if (position.confirmed == 0) position.reference.clear();
    const std::vector<std::string> pdus =
        EncodeText(record, position.reference, line_->registry, reports, position.room, whole);
    if (pdus.empty()) return SendResult::Unsendable;
    position.segments = pdus.size();
    for (std::size_t next = position.confirmed; next < pdus.size(); ++next) {
        const auto confirmation = SendPdu(line_->port, pdus[next], line_->stop, line_->context);
        if (!confirmation) return SendResult::Failed;
        position.confirmed = next + 1;
        if (confirmed) confirmed(position, *confirmation);
    }
    return SendResult::Sent;
}

UssdAnswer Session::Ussd(std::u16string_view request, Clock::duration limit) {
    // An errand finds the session open and ready; a one-shot caller opens it here.
    if ((!PortOpen() && !Open()) || Status().state != ModemState::Ready) {
        return {UssdStatus::NoModem};
    }
    AnswerReader reader(line_->port, line_->stop, line_->context);
    return AskUssd(line_->port, reader, request, line_->ussd_form, line_->context.info.manufacturer,
                   limit);
}

bool Session::EndUssd() {
    if (!line_->port.Open()) return false;
    AnswerReader reader(line_->port, line_->stop, line_->context);
    return CancelUssd(line_->port, reader);
}

const std::string& Session::Refusal() const {
    return line_->context.refusal;
}

ReceptionReport Session::Receive(ReceptionSink& sink) {
    ModemContext& context = line_->context;
    // Heard before the cycle, or during it: an announcement read among the listing's
    // lines was sent before it.
    bool heard = context.announced || !context.deliveries.empty();
    // Deliveries read before the listing go first: they are the older messages.
    ReceptionReport report = KeepDelivered(sink);
    std::size_t listed_new = 0;
    std::size_t left = 0;  // what the sink refused in the last round stays on the modem
    for (int round = 0; round < kMostListingRounds; ++round) {
        // Announcements that come from here on may name messages this listing misses.
        context.announced = false;
        ReceptionReport listing = ReceiveAll(line_->port, sink, line_->stop, context);
        report.listed = listing.listed;
        // A full SIM gets the messages the network held back as soon as deletes
        // free its slots, so they arrive while this round deletes: another round
        // takes them, until one deletes nothing and nothing was announced.
        const bool again = listing.listed && (listing.deleted > 0 || context.announced);
        heard = heard || context.announced;
        listed_new += listing.stored.size() + listing.reports.size();
        left = std::exchange(listing.unsaved, 0);
        Join(report, std::move(listing));
        if (!again || line_->stop.IsSet()) break;
    }
    report.unsaved += left;
    JudgeAnnouncements(heard, listed_new);
    Join(report, KeepDelivered(sink));
    return report;
}

// Messages a cycle finds that nobody announced, on a modem that should have, mean
// its announcements go elsewhere or get lost; one heard later means they work again.
// Messages that arrived before announcements were asked for at this opening say
// nothing either way.
void Session::JudgeAnnouncements(bool heard, std::size_t listed_new) {
    ModemContext& context = line_->context;
    if (!context.announcing.value_or(false)) return;
    if (heard) {
        context.announcements_trusted = true;
    } else if (context.announcements_due && listed_new > 0) {
        context.announcements_trusted = false;
    }
    context.announcements_due = true;
}

ReceptionReport Session::KeepDelivered(ReceptionSink& sink) {
    return StoreDeliveries(line_->port, sink, line_->stop, line_->context);
}

void Session::Listen(const StopSignal& wake, Clock::time_point deadline) {
    modem::Listen(line_->port, line_->stop, wake, deadline, line_->context);
}

bool Session::Announced() const {
    return line_->context.announced;
}

bool Session::Heard() const {
    const ModemContext& context = line_->context;
    return context.announced || !context.deliveries.empty() || context.restarted ||
           context.silent || !line_->port.Open();
}

Result<std::vector<PhoneBookEntry>, PhoneBookError> Session::ReadPhoneBook() {
    if (!Open()) {
        using Kind = PhoneBookError::Kind;
        if (line_->stop.IsSet()) return PhoneBookError{Kind::Stopped, {}};
        // A modem that went silent at the opening is no SIM state.
        const bool silent = line_->context.status.state == ModemState::Ready;
        return PhoneBookError{silent ? Kind::Silent : Kind::NotReady, {}};
    }
    AnswerReader reader(line_->port, line_->stop, line_->context);
    return ReadSimPhoneBook(line_->port, reader, line_->context.listing_idle_limit);
}

void Session::ReadSignalWhenDue() {
    AnswerReader reader(line_->port, line_->stop, line_->context);
    modem::ReadSignalWhenDue(line_->port, reader, line_->context);
}

Clock::time_point Session::NextSignalReading() const {
    return line_->context.signal_read + kSignalInterval;
}

Session::Conduct Session::Settle() {
    ModemContext& context = line_->context;
    const bool answered = std::exchange(context.answered, false);
    const bool silent = std::exchange(context.silent, false);
    // A modem still starting may have missed a command: the restart says why.
    if (std::exchange(context.restarted, false)) {
        ClosePort(line_->port);
        return Conduct::Restarted;
    }
    if (silent) {
        ClosePort(line_->port);
        return Conduct::Silent;
    }
    return answered ? Conduct::Answered : Conduct::Nothing;
}

void Session::Close() {
    ClosePort(line_->port);
}

void Session::SetListingIdleLimit(Clock::duration limit) {
    line_->context.listing_idle_limit = limit;
}

std::optional<ModemInfo> Session::Probe(std::uint16_t number, std::chrono::milliseconds bound,
                                        const StopSignal& stop) {
    return ProbePort(number, bound, stop);
}

std::optional<std::string> Session::ProbeImei(std::uint16_t number, std::chrono::milliseconds bound,
                                              const StopSignal& stop) {
    return modem::ProbeImei(number, bound, stop);
}

}  // namespace velka::modem
