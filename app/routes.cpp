#include "app/routes.h"

#include <algorithm>

#include "platform/com_name.h"
#include "platform/datetime.h"
#include "platform/files.h"
#include "platform/number_key.h"
#include "store/box_lock.h"
#include "store/sim_note_file.h"
#include "store/store_file.h"

namespace velka::app {
namespace {

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

// Notes the numbers of the box's records that carry a believed SIM note.
Status NoteBox(StickyRoutes& routes, const std::string& box_path) {
    if (!files::Exists(box_path)) return {};
    const auto notes = store::LoadSimNotes(store::SimNotesPathFor(box_path));
    if (!notes) return notes.error();
    if (notes->entries.empty()) return {};
    const auto box = store::BoxFile::Open(box_path);
    if (!box) return box.error();
    for (const store::SimNote& note : notes->entries) {
        // A note whose record was removed or replaced names nobody's SIM.
        if (note.record >= box->size() || box->ChecksumAt(note.record) != note.checksum) continue;
        const packet record = box->at(note.record);
        routes.Note(record.number_text(), record.datetime_text(), note.sim);
    }
    return {};
}

}  // namespace

bool AnswersTo(const std::vector<std::string>& names, std::string_view via) {
    return !via.empty() && std::any_of(names.begin(), names.end(), [via](const std::string& name) {
        return SameIgnoringCase(name, via);
    });
}

std::vector<std::string> ModemNames(std::string_view sim, std::string_view imei,
                                    std::initializer_list<std::uint16_t> ports,
                                    std::string_view sim_name) {
    std::vector<std::string> names;
    for (const std::string_view name : {sim, imei}) {
        if (!name.empty()) names.emplace_back(name);
    }
    for (const std::uint16_t port : ports) {
        if (port != 0) names.push_back(ComName(port));
    }
    if (!sim_name.empty()) names.emplace_back(sim_name);
    return names;
}

std::string RouteProblem(std::string_view via) {
    if (via.empty()) return "no modem named";
    if (via.size() > kLongestRoute)
        return "a modem's name is at most " + std::to_string(kLongestRoute) + " bytes";
    const bool control = std::any_of(via.begin(), via.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    return control ? "a modem's name holds no control characters" : std::string();
}

Result<StickyRoutes> StickyRoutes::Load(const std::string& inbox_path,
                                        const std::string& outbox_path) {
    StickyRoutes routes;
    // The boxes and their notes agree only while no process rewrites them.
    const auto held = store::TakeForReading(inbox_path);
    for (const std::string* path : {&inbox_path, &outbox_path}) {
        if (const Status noted = NoteBox(routes, *path); !noted) return noted.error();
    }
    return routes;
}

void StickyRoutes::Note(std::string_view number, std::string_view datetime, std::string_view sim) {
    std::string key = NumberKey(number);
    if (key.empty() || sim.empty()) return;
    std::string when = DateTimeKey(datetime);
    Last& last = by_number_[std::move(key)];
    if (!last.sim.empty() && when < last.when) return;
    last.when = std::move(when);
    last.sim = std::string(sim);
}

std::string_view StickyRoutes::SimFor(std::string_view number) const {
    const auto found = by_number_.find(NumberKey(number));
    return found == by_number_.end() ? std::string_view() : std::string_view(found->second.sim);
}

}  // namespace velka::app
