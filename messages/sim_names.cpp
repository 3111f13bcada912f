#include "messages/sim_names.h"

namespace velka::messages {

std::string ShortSimKey(std::string_view key) {
    if (key.size() <= kShortSimKey) return std::string(key);
    std::string shown = "\x85";  // the ellipsis in Windows-1251
    shown += key.substr(key.size() - kShortSimKey);
    return shown;
}

std::string SimNames::Shown(std::string_view key) const {
    if (const auto named = names_.find(key); named != names_.end() && !named->second.empty())
        return named->second;
    return ShortSimKey(key);
}

}  // namespace velka::messages
