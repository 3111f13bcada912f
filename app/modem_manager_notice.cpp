#include "app/modem_manager_notice.h"

#include "platform/codepage.h"
#include "platform/com_name.h"

namespace velka::app {

std::string ModemManagerNotice(Registry& registry, std::uint16_t port_number,
                               const SystemPlaces& places) {
    if (port_number == 0) return {};
    const std::string port = ComName(port_number);
    // The device first: it is one small file, and most ports are marked or virtual.
    if (ModemManagerMarkOfPort(registry, port, places) != ModemManagerMark::Probed) return {};
    if (!ModemManagerRunning(places)) return {};
    return codepage::FromUtf8(
        "Служба ModemManager работает и может занять модем на порту " + port +
        ": она опрашивает новые модемы своими командами, и тогда модем отвечает не "
        "программе. Правило udev из пакета Velka SMS велит службе не трогать модемы, "
        "которые программа знает (после установки пакета переподключите модем). Для "
        "модема другой марки добавьте такое правило сами (свойство ID_MM_DEVICE_IGNORE=1) "
        "или остановите службу командой\r\n    sudo systemctl stop ModemManager");
}

}  // namespace velka::app
