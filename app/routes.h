// Which modem of a pool a record goes out through. In order: the modem (or SIM) the
// user named for it, which alone may send it; the SIM a reply answers, or the SIM
// the recipient last wrote to or was last written from (sticky), which sends it
// while that SIM's modem takes records, any other one otherwise; then whichever
// modem is free first, which is the least loaded one, as a modem at its limits
// rests and takes nothing. A text begun goes on through the SIM it began on
// (QueuedRecord::sim), whatever its route said. Pure but for StickyRoutes::Load,
// which blocks on the disk; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/result.h"

namespace velka::app {

// The longest route a record keeps (queue.sims): an IMEI, a port, an ICCID and the
// names users give their SIMs fit.
inline constexpr std::size_t kLongestRoute = 40;

// What a record asks to go through.
struct Route {
    // A modem by its IMEI or its port ("COM5"), or a SIM by its key or its name
    // (Windows-1251); empty: none asked.
    std::string via;
    // Named by the user: only a modem answering to `via` sends it, however long it
    // waits. Otherwise (a reply) a modem answering to it sends it while one takes
    // records, and any modem once none does or its first attempt failed.
    bool strict = false;
    bool operator==(const Route&) const = default;
};

// A modem of the pool as the routes see it: the names it answers to (its SIM's
// key, its IMEI, its port, its SIM's name) and whether it takes records now (it
// sends, its SIM is ready, it answers and does not rest).
struct PoolMember {
    std::vector<std::string> names;
    bool available = false;
    bool operator==(const PoolMember&) const = default;
};

// Whether a modem with these names answers to `via`: a port regardless of case.
bool AnswersTo(const std::vector<std::string>& names, std::string_view via);

// The names a modem answers to: its SIM's key, its IMEI, each of its ports as
// "COMn" (the one it is on, and the one the settings name, which still names it
// after a replug moved it), its SIM's name. Those not known (empty, 0) are left out.
std::vector<std::string> ModemNames(std::string_view sim, std::string_view imei,
                                    std::initializer_list<std::uint16_t> ports,
                                    std::string_view sim_name);

// The reason a route named by the user cannot be one: empty, too long, or bytes no
// name can hold. Empty when it can.
std::string RouteProblem(std::string_view via);

// The SIM each number last wrote to or was last written from, by NumberKey.
class StickyRoutes {
  public:
    // From the SIM notes of inbox.db and outbox.db (store/sim_note_file.h). Missing
    // files give none; an unreadable one fails, and the pool routes without it.
    static Result<StickyRoutes> Load(const std::string& inbox_path, const std::string& outbox_path);

    // A message from or to `number` at `datetime` (as the store keeps it) went
    // through `sim`; an earlier one than the one known changes nothing.
    void Note(std::string_view number, std::string_view datetime, std::string_view sim);
    // The SIM `number` knows; empty when none.
    std::string_view SimFor(std::string_view number) const;
    bool empty() const { return by_number_.empty(); }

  private:
    struct Last {
        std::string when;  // DateTimeKey
        std::string sim;
    };
    std::unordered_map<std::string, Last> by_number_;
};

}  // namespace velka::app
