#include "settings/config_apply.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/com_name.h"
#include "platform/profile.h"
#include "settings/startup_settings.h"

namespace velka::settings {
namespace {

constexpr std::int32_t kLastPort = 0xFFFF;

// The port of a row after the first, or why it cannot be kept (UTF-8).
Result<std::int32_t> LaterRowPort(const PoolRow& row, std::size_t number) {
    std::string message;
    if (row.port.empty()) {
        message.append("Не указан порт модема ").append(std::to_string(number)).append(".");
        return Error{message};
    }
    const auto port = PortOfText(row.port);
    if (port && *port >= 1 && *port <= kLastPort) return *port;
    message.append("Порт модема ")
        .append(std::to_string(number))
        .append(" «")
        .append(codepage::ToUtf8(row.port))
        .append("» не подходит: нужны COM и номер порта, например COM5.");
    return Error{message};
}

// The first modem's port, or 0 when its field names none.
Result<std::int32_t> FirstRowPort(const PoolRow& row) {
    const auto port = PortOfText(row.port);
    return port && *port >= 1 && *port <= kLastPort ? *port : 0;
}

// The sentence that refuses a port named by two modems (UTF-8).
std::string TwiceNamed(std::int32_t port, std::size_t first, std::size_t second) {
    std::string message = "Порт COM";
    message.append(std::to_string(port))
        .append(" указан у модемов ")
        .append(std::to_string(first))
        .append(" и ")
        .append(std::to_string(second))
        .append(": у каждого модема должен быть свой порт.");
    return message;
}

Result<std::vector<PoolModem>> CheckedPool(const std::vector<PoolRow>& rows) {
    std::vector<PoolModem> pool;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0 && pool.front().port == 0) {
            return Error{
                "Модемы со второго запускаются только вместе с первым: "
                "выберите порт первого модема."};
        }
        const auto port = i == 0 ? FirstRowPort(rows[i]) : LaterRowPort(rows[i], i + 1);
        if (!port) return port.error();
        const auto same = std::find_if(pool.begin(), pool.end(), [&port](const PoolModem& modem) {
            return modem.port == *port;
        });
        if (same != pool.end()) {
            return Error{
                TwiceNamed(*port, static_cast<std::size_t>(same - pool.begin()) + 1, i + 1)};
        }
        pool.push_back({*port, rows[i].sends, rows[i].receives});
    }
    return pool;
}

}  // namespace

DialogSettings InitialDialogSettings(std::uint16_t port_in_use, bool reception,
                                     bool delivery_reports, bool full_ucs2_segments) {
    return {port_in_use == 0 ? std::string() : ComName(port_in_use), reception, delivery_reports,
            full_ucs2_segments};
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

Result<std::vector<PoolModem>> ChosenPool(const std::vector<PoolRow>& rows) {
    auto pool = CheckedPool(rows);
    if (!pool) return Error{codepage::FromUtf8(pool.error().message)};
    return pool;
}

}  // namespace velka::settings
