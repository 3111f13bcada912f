#include "gateway/api_server.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/balance.h"
#include "app/status_text.h"
#include "compose/compose.h"
#include "contacts/contact_book.h"
#include "contacts/number_names.h"
#include "gateway/api_errors.h"
#include "gateway/api_token.h"
#include "messages/box_rows.h"
#include "messages/delivery_states.h"
#include "platform/codepage.h"
#include "platform/com_name.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/mutex.h"
#include "store/queue_id_file.h"
#include "store/sent_file.h"
#include "store/store_file.h"

namespace velka::gateway {
namespace {

using nlohmann::json;

constexpr const char* kJsonType = "application/json; charset=utf-8";

void Answer(httplib::Response& response, int status, const json& body) {
    response.status = status;
    response.set_content(body.dump(), kJsonType);
}

void Refuse(httplib::Response& response, ApiError error, const std::string& detail = {}) {
    const ApiErrorText& text = TextOf(error);
    json body = {{"code", text.code}, {"message", text.russian}, {"message_en", text.english}};
    if (!detail.empty()) body["detail"] = detail;
    Answer(response, text.status, {{"error", body}});
}

// Ids travel as decimal strings: they are 64-bit, beyond what a JSON number keeps
// exactly in most readers.
std::string IdText(std::uint64_t id) {
    return std::to_string(id);
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || problem != std::errc() || end != text.data() + text.size()) return {};
    return value;
}

std::string Utf8(std::string_view cp1251) {
    return codepage::ToUtf8(cp1251);
}

// Records keep CR LF line breaks, as the compose window types them; programs
// mostly send bare LF.
std::u16string TypedForm(std::string_view utf8) {
    std::u16string typed;
    for (const char16_t ch : codepage::Utf8ToUtf16(utf8)) {
        if (ch == u'\n' && (typed.empty() || typed.back() != u'\r')) typed.push_back(u'\r');
        typed.push_back(ch);
    }
    return typed;
}

// How many sends a server remembers having queued, about 40 bytes each, until the
// worker takes them in: a server that runs for months must not grow without
// bound. Older ones are then "not found" until the worker has them.
constexpr std::size_t kRememberedSends = 100'000;

// One client address's requests in the current second.
struct RateWindow {
    std::int64_t second = 0;
    int count = 0;
};

}  // namespace

struct ApiServer::Impl {
    Impl(app::AppCore& core_in, Registry& registry_in, ServerOptions options_in)
        : core(core_in),
          registry(registry_in),
          options(std::move(options_in)),
          token(options.token) {}

    app::AppCore& core;
    Registry& registry;
    const ServerOptions options;
    httplib::Server server;
    std::thread listener;  // runs server.listen_after_bind(); joined by Stop
    int port = 0;

    Mutex lock;
    std::string token GUARDED_BY(lock);
    modem::ModemStatus modem_status GUARDED_BY(lock);
    modem::ModemInfo modem_info GUARDED_BY(lock);
    // The sends this server queued that the worker has not yet sent or put aside:
    // "queued" even before the worker (perhaps another process's) reads queue.db.
    // The oldest first dropped beyond kRememberedSends.
    std::unordered_set<std::uint64_t> queued_here GUARDED_BY(lock);
    std::deque<std::uint64_t> queued_order GUARDED_BY(lock);
    std::unordered_map<std::string, RateWindow> rates GUARDED_BY(lock);

    void Route();
    bool Admitted(const httplib::Request& request, httplib::Response& response);
    bool WithinRate(const std::string& address) EXCLUDES(lock);

    void PostMessages(const httplib::Request& request, httplib::Response& response);
    void GetMessage(const httplib::Request& request, httplib::Response& response);
    void GetStatus(httplib::Response& response);
    std::optional<json> LastBalance() const;
    void GetContacts(httplib::Response& response);
    void GetBox(const char* file, bool sent, const httplib::Request& request,
                httplib::Response& response);
    void DeleteQueued(const httplib::Request& request, httplib::Response& response);

    // The numbers (Windows-1251) the "to" list names, or the refusal.
    bool Recipients(const json& to, std::vector<std::string>& numbers, httplib::Response& response);
    std::optional<json> QueuedState(std::uint64_t id);
    std::optional<json> KeptState(std::uint64_t id);
    std::optional<json> SentState(std::uint64_t id);
    std::optional<json> UnsendableState(std::uint64_t id);
    std::optional<json> QueuedHereState(std::uint64_t id) EXCLUDES(lock);
    // A record the worker moved from the queue into a store file.
    struct KeptRecord {
        store::BoxFile box;
        std::size_t position = 0;
    };
    // The record queued as `id`, in the store file `box_path`, by its queue-id
    // file; damage met there is told in the log.
    std::optional<KeptRecord> FindKept(const std::string& box_path, std::uint64_t id);
    void Log(const std::string& line) const;
    void NoteSent(std::uint64_t id, app::SendOutcome outcome) EXCLUDES(lock);
    void Remember(std::uint64_t id) REQUIRES(lock);
};

// ---- Admission: the rate, then the token ----

bool ApiServer::Impl::WithinRate(const std::string& address) {
    const std::int64_t second = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
    MutexLock guard(lock);
    // Addresses of seconds gone by are forgotten in bulk, so that many clients
    // cannot grow the table without bound.
    if (rates.size() > 4096)
        std::erase_if(rates, [&](const auto& entry) { return entry.second.second != second; });
    RateWindow& window = rates[address];
    if (window.second != second) window = {second, 0};
    return ++window.count <= options.requests_per_second;
}

bool ApiServer::Impl::Admitted(const httplib::Request& request, httplib::Response& response) {
    // The rate comes first, so that guessing tokens is slowed down too.
    if (!WithinRate(request.remote_addr)) {
        response.set_header("Retry-After", "1");
        Refuse(response, ApiError::TooManyRequests);
        return false;
    }
    constexpr std::string_view kBearer = "Bearer ";
    const std::string header = request.get_header_value("Authorization");
    const std::string_view given =
        header.starts_with(kBearer) ? std::string_view(header).substr(kBearer.size()) : "";
    bool matches = false;
    {
        MutexLock guard(lock);
        matches = TokenMatches(token, given);
    }
    if (!matches) {
        response.set_header("WWW-Authenticate", "Bearer");
        Refuse(response, ApiError::Unauthorized);
        return false;
    }
    return true;
}

// ---- POST /api/v1/messages ----

bool ApiServer::Impl::Recipients(const json& to, std::vector<std::string>& numbers,
                                 httplib::Response& response) {
    if (!to.is_array() || to.empty()) {
        Refuse(response, ApiError::NoRecipients);
        return false;
    }
    std::vector<std::string> items;
    for (const json& item : to) {
        if (!item.is_string()) {
            Refuse(response, ApiError::MalformedJson, "\"to\" holds strings only");
            return false;
        }
        const std::string text = item.get<std::string>();
        if (!text.starts_with('#')) {
            items.push_back(codepage::FromUtf8(text));
            continue;
        }
        // An empty name would list every group: "#" must not send to the whole book.
        const std::string name = codepage::FromUtf8(text.substr(1));
        const contacts::Listing group =
            name.empty() ? contacts::Listing{}
                         : contacts::ContactBook(registry).FilteredListing("", name);
        if (group.rows.empty()) {
            Refuse(response, ApiError::UnknownGroup, text);
            return false;
        }
        for (const contacts::Contact& contact : group.rows) items.push_back(contact.number);
    }
    const compose::RecipientCheck check = compose::CheckRecipients(items);
    if (!check.rejected.empty()) {
        Refuse(response, ApiError::BadNumber, Utf8(check.rejected.front().item));
        return false;
    }
    for (const std::string& number : check.sendable) {
        if (std::find(numbers.begin(), numbers.end(), number) == numbers.end())
            numbers.push_back(number);
    }
    return true;
}

void ApiServer::Impl::PostMessages(const httplib::Request& request, httplib::Response& response) {
    if (request.body.size() > kMaxBodyBytes) {
        Refuse(response, ApiError::BodyTooLarge,
               "at most " + std::to_string(kMaxBodyBytes) + " bytes");
        return;
    }
    // Parsed without exceptions: a malformed body (invalid UTF-8 included) is
    // discarded, never thrown across the library's thread.
    const json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object() || !body.contains("text") ||
        !body["text"].is_string()) {
        Refuse(response, ApiError::MalformedJson, "expected {\"to\": [...], \"text\": \"...\"}");
        return;
    }
    std::vector<std::string> numbers;
    if (!Recipients(body.value("to", json()), numbers, response)) return;
    const compose::TypedText typed =
        compose::KeptFormOf(TypedForm(body["text"].get<std::string>()));
    if (typed.text.empty()) return Refuse(response, ApiError::EmptyText);
    if (typed.text.size() > kMaxTextLength) {
        return Refuse(response, ApiError::TextTooLong,
                      std::to_string(typed.text.size()) + " characters");
    }
    app::Route route;
    if (body.contains("via")) {
        if (!body["via"].is_string()) return Refuse(response, ApiError::BadVia, "a string");
        route = {codepage::FromUtf8(body["via"].get<std::string>()), true};
        if (const std::string problem = app::RouteProblem(route.via); !problem.empty())
            return Refuse(response, ApiError::BadVia, problem);
    }
    const DateTime now = NowLocal();
    std::vector<packet> records;
    records.reserve(numbers.size());
    for (const std::string& number : numbers)
        records.push_back(compose::MakeOutgoingRecord(number, now, typed.text));
    const auto ids = core.Enqueue(records, typed.whole, route);
    if (!ids) return Refuse(response, ApiError::NotQueued, Utf8(ids.error().message));

    json messages = json::array();
    {
        MutexLock guard(lock);
        for (std::size_t i = 0; i < ids->size(); ++i) {
            Remember((*ids)[i]);
            messages.push_back({{"id", IdText((*ids)[i])}, {"to", Utf8(numbers[i])}});
        }
    }
    Answer(response, 202, {{"messages", messages}});
}

// ---- GET /api/v1/messages/{id} ----

std::optional<json> ApiServer::Impl::QueuedState(std::uint64_t id) {
    const app::QueueSnapshot snapshot = core.SnapshotOfQueue();
    const auto row = std::find_if(snapshot.rows.begin(), snapshot.rows.end(),
                                  [&](const app::QueueRow& each) { return each.id == id; });
    if (row == snapshot.rows.end()) return std::nullopt;
    json state = {{"id", IdText(id)}, {"to", Utf8(row->record.number_text())}};
    switch (row->state) {
        case app::QueueRowState::Sending:
            state["state"] = "sending";
            state["parts_confirmed"] = row->confirmed;
            state["parts"] = row->segments;
            break;
        case app::QueueRowState::Resting:
            // Refused or unanswered: the worker tries it again, so it is still queued.
            state["state"] = "queued";
            state["last_error"] = Utf8(row->refusal);
            state["parts_confirmed"] = row->confirmed;
            break;
        case app::QueueRowState::Waiting:
        case app::QueueRowState::Unsendable:
            state["state"] = "queued";
            break;
    }
    return state;
}

void ApiServer::Impl::Log(const std::string& line) const {
    if (options.log) {
        options.log(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

// Read without the box lock, which the delivery states take for their own
// reading: a removal renumbering the files meanwhile leaves entries whose
// checksums no longer match, which are not believed.
std::optional<ApiServer::Impl::KeptRecord> ApiServer::Impl::FindKept(const std::string& box_path,
                                                                     std::uint64_t id) {
    auto box = store::BoxFile::Open(box_path);
    if (!box) return std::nullopt;
    const std::string ids_path = store::QueueIdPathFor(box_path);
    const auto ids = store::LoadQueueIds(ids_path);
    if (!ids) {
        Log("Cannot read " + ids_path + ": " + ids.error().message);
        return std::nullopt;
    }
    if (ids->damaged > 0) {
        Log(ids_path + ": " + std::to_string(ids->damaged) +
            " damaged entries passed over; their records are not found by their ids.");
    }
    const auto position = store::FindQueueId(ids->entries, id, [&box](std::size_t at) {
        return at < box->size() ? std::optional<std::uint32_t>(box->ChecksumAt(at)) : std::nullopt;
    });
    if (!position) return std::nullopt;
    return KeptRecord{std::move(*box), *position};
}

std::optional<json> ApiServer::Impl::SentState(std::uint64_t id) {
    const std::string outbox = core.FilePath(app::kOutboxFile);
    const auto kept = FindKept(outbox, id);
    if (!kept) return std::nullopt;
    json state = {{"id", IdText(id)},
                  {"to", Utf8(kept->box.at(kept->position).number_text())},
                  {"state", "sent"}};
    const auto states = messages::LoadDeliveryStates(outbox, kept->box);
    if (!states) {
        Log("Cannot read the delivery states of " + outbox + ": " + states.error().message);
        return state;
    }
    if (states->unbelieved > 0) {
        Log(store::SentPathFor(outbox) + ": " + std::to_string(states->unbelieved) +
            " entries not believed; their records answer without a delivery state.");
    }
    const messages::DeliveryState& delivery = states->by_record[kept->position];
    if (delivery.delivery == messages::DeliveryOutcome::Delivered) {
        state["state"] = "delivered";
        state["delivered_at"] = Utf8(delivery.when);
    } else if (delivery.delivery == messages::DeliveryOutcome::NotDelivered) {
        state["state"] = "failed";
        state["reason"] = Utf8(messages::FailureReason(delivery.status));
    }
    return state;
}

std::optional<json> ApiServer::Impl::UnsendableState(std::uint64_t id) {
    const auto kept = FindKept(core.FilePath(app::kUnsentFile), id);
    if (!kept) return std::nullopt;
    return json{{"id", IdText(id)},
                {"to", Utf8(kept->box.at(kept->position).number_text())},
                {"state", "failed"},
                {"reason", "no message can be made for this number"}};
}

std::optional<json> ApiServer::Impl::KeptState(std::uint64_t id) {
    if (auto state = SentState(id)) return state;
    return UnsendableState(id);
}

// Queued by this server and not yet taken in by the worker.
std::optional<json> ApiServer::Impl::QueuedHereState(std::uint64_t id) {
    MutexLock guard(lock);
    if (!queued_here.contains(id)) return std::nullopt;
    return json{{"id", IdText(id)}, {"state", "queued"}};
}

void ApiServer::Impl::GetMessage(const httplib::Request& request, httplib::Response& response) {
    const auto id = ParseUnsigned(request.matches[1].str());
    if (!id || *id == 0) return Refuse(response, ApiError::BadId, request.matches[1].str());
    if (auto state = QueuedState(*id)) return Answer(response, 200, *state);
    if (auto state = KeptState(*id)) return Answer(response, 200, *state);
    if (auto state = QueuedHereState(*id)) return Answer(response, 200, *state);
    Refuse(response, ApiError::NotFound, IdText(*id));
}

void ApiServer::Impl::Remember(std::uint64_t id) {
    if (!queued_here.insert(id).second) return;
    queued_order.push_back(id);
    if (queued_order.size() <= kRememberedSends) return;
    queued_here.erase(queued_order.front());
    queued_order.pop_front();
}

// Sent or put aside: from now on its store file's queue-id file answers for it, and
// an entry lost to damage there must not leave it "queued" for ever.
void ApiServer::Impl::NoteSent(std::uint64_t id, app::SendOutcome outcome) {
    if (outcome == app::SendOutcome::Failed) return;
    MutexLock guard(lock);
    queued_here.erase(id);
}

// ---- GET /api/v1/status, /contacts, /inbox, /outbox ----

void ApiServer::Impl::GetStatus(httplib::Response& response) {
    modem::ModemStatus status;
    modem::ModemInfo info;
    {
        MutexLock guard(lock);
        status = modem_status;
        info = modem_info;
    }
    const app::AppCore::QueueSummary queue = core.SummaryOfQueue();
    const auto waiting = core.QueuedCount();
    json modem = {{"port", core.PortNumber() == 0 ? "" : ComName(core.PortNumber())},
                  {"worker", core.WorkerRunning()},
                  {"state", Utf8(app::ModemStateWord(status.state))},
                  {"ready", status.state == modem::ModemState::Ready},
                  {"manufacturer", Utf8(info.manufacturer)},
                  {"model", Utf8(info.model)},
                  {"operator", Utf8(info.operator_name)},
                  {"signal", info.signal}};
    json queued = {{"held", queue.count}};
    if (waiting) queued["waiting"] = *waiting;
    json answer = {{"modem", modem}, {"queue", queued}};
    if (auto balance = LastBalance()) answer["balance"] = std::move(*balance);
    Answer(response, 200, answer);
}

// The last reading the window kept, as it read it; nothing when none was read. A
// file that is not the program's costs the balance alone, and is told in the log.
std::optional<json> ApiServer::Impl::LastBalance() const {
    const std::string path = core.FilePath(app::kBalanceFile);
    const auto reading = app::LoadBalanceReading(path);
    if (!reading) {
        Log("Cannot read " + path + ": " + reading.error().message);
        return std::nullopt;
    }
    if (!*reading) return std::nullopt;
    const app::BalanceReading& last = **reading;
    return json{{"amount", last.amount ? json(*last.amount) : json(nullptr)},
                {"text", codepage::Utf16ToUtf8(last.text)},
                {"code", last.code},
                {"read_at", Utf8(last.read_at)}};
}

void ApiServer::Impl::GetContacts(httplib::Response& response) {
    const contacts::Listing listing = contacts::ContactBook(registry).FullListing();
    json rows = json::array();
    for (const contacts::Contact& contact : listing.rows) {
        rows.push_back({{"name", Utf8(contact.name)},
                        {"number", Utf8(contact.number)},
                        {"group", Utf8(contact.group)}});
    }
    Answer(response, 200, {{"contacts", rows}});
}

void ApiServer::Impl::GetBox(const char* file, bool sent, const httplib::Request& request,
                             httplib::Response& response) {
    std::uint64_t after = 0;
    std::uint64_t limit = 100;
    if (request.has_param("after")) {
        const auto value = ParseUnsigned(request.get_param_value("after"));
        if (!value) return Refuse(response, ApiError::BadQuery, "after");
        after = *value;
    }
    if (request.has_param("limit")) {
        const auto value = ParseUnsigned(request.get_param_value("limit"));
        if (!value || *value == 0 || *value > kMaxPageSize)
            return Refuse(response, ApiError::BadQuery,
                          "limit: 1.." + std::to_string(kMaxPageSize));
        limit = *value;
    }
    const auto rows = messages::ReadBoxRows(core.FilePath(file), false, sent);
    if (!rows) return Refuse(response, ApiError::NotFound, Utf8(rows.error().message));
    const contacts::NumberNames names(contacts::ContactBook(registry).FullListing().rows);
    json page = json::array();
    // A message's id is its place in the box, from 1: the box is only appended to,
    // except where the user removes messages.
    for (std::uint64_t index = after; index < rows->rows.size() && page.size() < limit; ++index) {
        const messages::BoxRow& row = rows->rows[index];
        json message = {
            {"id", index + 1},
            {"number", Utf8(row.number)},
            {"name", Utf8(names.NameOf(row.number))},
            {"time", Utf8(row.datetime)},
            {"text", row.whole.empty() ? Utf8(row.text) : codepage::Utf16ToUtf8(row.whole)}};
        if (sent) message["state"] = Utf8(row.state);
        page.push_back(message);
    }
    Answer(response, 200, {{"messages", page}, {"total", rows->rows.size()}});
}

// ---- DELETE /api/v1/queue/{id} ----

void ApiServer::Impl::DeleteQueued(const httplib::Request& request, httplib::Response& response) {
    const auto id = ParseUnsigned(request.matches[1].str());
    if (!id || *id == 0) return Refuse(response, ApiError::BadId, request.matches[1].str());
    const auto removal = core.RemoveFromQueue(*id);
    if (!removal) return Refuse(response, ApiError::NotQueued, Utf8(removal.error().message));
    switch (*removal) {
        case app::Removal::Removed: {
            MutexLock guard(lock);
            queued_here.erase(*id);
            return Answer(response, 200, {{"id", IdText(*id)}, {"removed", true}});
        }
        case app::Removal::BeingSent:
            return Refuse(response, ApiError::BeingSent, IdText(*id));
        case app::Removal::NotQueued:
            return Refuse(response, ApiError::NotFound, IdText(*id));
    }
}

// ---- Routes ----

void ApiServer::Impl::Route() {
    using Request = httplib::Request;
    using Response = httplib::Response;
    // Bodies beyond this are cut off by the library before any handler runs; up to
    // it, the handler refuses what is above kMaxBodyBytes with the API's own error.
    server.set_payload_max_length(kMaxBodyBytes * 4);
    // Answers are small and go out in one write: without this, Nagle's algorithm
    // holds each behind the client's delayed acknowledgement (tens of milliseconds).
    server.set_tcp_nodelay(true);
    server.set_pre_routing_handler([this](const Request& request, Response& response) {
        return Admitted(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                           : httplib::Server::HandlerResponse::Handled;
    });
    server.Post("/api/v1/messages", [this](const Request& request, Response& response) {
        PostMessages(request, response);
    });
    server.Get(R"(/api/v1/messages/([^/]+))", [this](const Request& request, Response& response) {
        GetMessage(request, response);
    });
    server.Get("/api/v1/status",
               [this](const Request&, Response& response) { GetStatus(response); });
    server.Get("/api/v1/contacts",
               [this](const Request&, Response& response) { GetContacts(response); });
    server.Get("/api/v1/inbox", [this](const Request& request, Response& response) {
        GetBox(app::kInboxFile, false, request, response);
    });
    server.Get("/api/v1/outbox", [this](const Request& request, Response& response) {
        GetBox(app::kOutboxFile, true, request, response);
    });
    server.Delete(R"(/api/v1/queue/([^/]+))", [this](const Request& request, Response& response) {
        DeleteQueued(request, response);
    });
    // Unknown paths, and the library's own refusals (a body beyond its limit), in
    // the API's form.
    server.set_error_handler([](const Request&, Response& response) {
        if (!response.body.empty()) return;
        const int status = response.status;
        Refuse(response, status == 413 ? ApiError::BodyTooLarge : ApiError::NotFound);
        if (status != 404) response.status = status == 413 ? 400 : status;
    });
}

ApiServer::ApiServer(app::AppCore& core, Registry& registry, ServerOptions options)
    : impl_(std::make_unique<Impl>(core, registry, std::move(options))) {
    impl_->Route();
}

ApiServer::~ApiServer() {
    Stop();
}

Status ApiServer::Start() {
    const int port = impl_->options.port == 0
                         ? impl_->server.bind_to_any_port(impl_->options.address)
                         : (impl_->server.bind_to_port(impl_->options.address, impl_->options.port)
                                ? impl_->options.port
                                : -1);
    if (port <= 0) {
        return Error{"The API cannot listen on " + impl_->options.address + ":" +
                     std::to_string(impl_->options.port) + "."};
    }
    impl_->port = port;
    impl_->listener = std::thread([this] { impl_->server.listen_after_bind(); });
    return {};
}

int ApiServer::Port() const {
    return impl_->port;
}

void ApiServer::SetToken(std::string token) {
    MutexLock guard(impl_->lock);
    impl_->token = std::move(token);
}

void ApiServer::Stop() {
    impl_->server.stop();
    if (impl_->listener.joinable()) impl_->listener.join();
}

void ApiServer::Observe(app::WorkerEvents& events) {
    const auto chain = [](auto& slot, auto added) {
        slot = [before = std::move(slot), added](const auto&... args) {
            if (before) before(args...);
            added(args...);
        };
    };
    chain(events.on_send,
          [this](std::uint64_t id, app::SendOutcome outcome) { impl_->NoteSent(id, outcome); });
    chain(events.on_modem_state, [this](const modem::ModemStatus& status) {
        MutexLock guard(impl_->lock);
        impl_->modem_status = status;
    });
    chain(events.on_modem_info, [this](const modem::ModemInfo& info) {
        MutexLock guard(impl_->lock);
        impl_->modem_info = info;
    });
}

}  // namespace velka::gateway
