// How the views name a SIM (its key: the ICCID, or "IMSI" and the IMSI): by the
// name the user gave it in Config.ini ("[SIM <key>]", Name=), else by the end of
// its key, which is what tells two SIMs of one operator apart. The names are
// read by the front end (settings/sim_settings.h) and handed in. Pure; one thread
// at a time.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace velka::messages {

// The last kShortSimKey characters of the key after "…" (Windows-1251), or the
// key whole when it is no longer than that.
inline constexpr std::size_t kShortSimKey = 6;
std::string ShortSimKey(std::string_view key);

class SimNames {
  public:
    SimNames() = default;
    // `names`: the name of each SIM that has one, by key (Windows-1251).
    explicit SimNames(std::map<std::string, std::string, std::less<>> names)
        : names_(std::move(names)) {}

    // The SIM as a view shows it (Windows-1251): its name, else ShortSimKey; empty
    // for an empty key.
    std::string Shown(std::string_view key) const;

  private:
    std::map<std::string, std::string, std::less<>> names_;
};

}  // namespace velka::messages
