#include "settings/config_apply.h"

#include "platform/profile.h"
#include "settings/startup_settings.h"

namespace velka::settings {

DialogSettings InitialDialogSettings(std::uint16_t port_in_use, bool reception,
                                     bool delivery_reports) {
    return {port_in_use == 0 ? std::string() : "COM" + std::to_string(port_in_use), reception,
            delivery_reports};
}

Status ApplySettings(const std::string& ini_path, const DialogSettings& chosen,
                     const std::function<void(bool)>& set_reception,
                     const std::function<void(bool)>& set_delivery_reports) {
    if (Status written = profile::WriteString(ini_path, kSection, kSerialPortKey, chosen.port);
        !written) {
        return written;
    }
    set_reception(chosen.reception);
    if (Status written =
            profile::WriteString(ini_path, kSection, kMailCheckKey, chosen.reception ? "1" : "0");
        !written) {
        return written;
    }
    set_delivery_reports(chosen.delivery_reports);
    return profile::WriteString(ini_path, kSection, kDeliveryReportsKey,
                                chosen.delivery_reports ? "1" : "0");
}

}  // namespace velka::settings
