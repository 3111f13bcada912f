#include "settings/config_apply.h"

#include "platform/profile.h"
#include "settings/startup_settings.h"

namespace velka::settings {

DialogSettings InitialDialogSettings(std::uint16_t port_in_use, bool reception,
                                     bool delivery_reports, bool full_ucs2_segments) {
    return {port_in_use == 0 ? std::string() : "COM" + std::to_string(port_in_use), reception,
            delivery_reports, full_ucs2_segments};
}

Status ApplySettings(const std::string& ini_path, const DialogSettings& chosen,
                     const SwitchSetters& set) {
    if (Status written = profile::WriteString(ini_path, kSection, kSerialPortKey, chosen.port);
        !written) {
        return written;
    }
    const struct {
        const std::function<void(bool)>& setter;
        bool on;
        std::string_view key;
    } flags[] = {
        {set.reception, chosen.reception, kMailCheckKey},
        {set.delivery_reports, chosen.delivery_reports, kDeliveryReportsKey},
        {set.full_ucs2_segments, chosen.full_ucs2_segments, kFullUcs2PartsKey},
    };
    for (const auto& flag : flags) {
        flag.setter(flag.on);
        if (Status written =
                profile::WriteString(ini_path, kSection, flag.key, flag.on ? "1" : "0");
            !written) {
            return written;
        }
    }
    return {};
}

}  // namespace velka::settings
