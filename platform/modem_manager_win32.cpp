#include "platform/modem_manager.h"

namespace velka {

bool ModemManagerRunning(const SystemPlaces&) {
    return false;
}

ModemManagerMark ModemManagerMarkOf(const std::string&, const SystemPlaces&) {
    return ModemManagerMark::Unmanaged;
}

ModemManagerMark ModemManagerMarkOfPort(Registry&, const std::string&, const SystemPlaces&) {
    return ModemManagerMark::Unmanaged;
}

}  // namespace velka
