#include "app/status_text.h"

#include "platform/codepage.h"
#include "platform/com_name.h"

namespace velka::app {

std::string ModemStateWord(modem::ModemState state) {
    using modem::ModemState;
    switch (state) {
        case ModemState::Unknown:
            return codepage::FromUtf8("подключение");
        case ModemState::Ready:
            return codepage::FromUtf8("готов");
        case ModemState::NotAnswering:
            return codepage::FromUtf8("не отвечает");
        case ModemState::PortMissing:
            return codepage::FromUtf8("порт не найден");
        case ModemState::PortDenied:
            return codepage::FromUtf8("нет доступа к порту");
        case ModemState::PinNeeded:
            return codepage::FromUtf8("нужен PIN-код");
        case ModemState::PinRefused:
            return codepage::FromUtf8("неверный PIN-код");
        case ModemState::PukNeeded:
            return codepage::FromUtf8("нужен PUK-код");
        case ModemState::PhoneLocked:
            return codepage::FromUtf8("нужен код PH-SIM PIN");
        case ModemState::NoSim:
            return codepage::FromUtf8("нет SIM-карты");
        case ModemState::SimFailure:
            return codepage::FromUtf8("SIM-карта неисправна");
    }
    return {};
}

// The AT+CSQ scale (27.007): 0 is -113 dBm or less, 31 is -51 dBm or more, 99 not
// known. Around 10 (-93 dBm) a modem starts to lose messages; from 15 (-83 dBm) on
// it works without trouble.
std::string SignalLevelText(int csq) {
    if (csq < 0 || csq > 31) return {};
    if (csq >= 15) return codepage::FromUtf8("сигнал: хороший");
    if (csq >= 10) return codepage::FromUtf8("сигнал: средний");
    if (csq >= 1) return codepage::FromUtf8("сигнал: слабый");
    return codepage::FromUtf8("нет сигнала");
}

std::string ModemLine(const std::string& port_name, const modem::ModemStatus& status,
                      const modem::ModemInfo& info) {
    std::string line = port_name + ": " + ModemStateWord(status.state);
    if (status.state != modem::ModemState::Ready) return line;
    if (!info.operator_name.empty()) line += ", " + info.operator_name;
    if (const std::string signal = SignalLevelText(info.signal); !signal.empty())
        line += ", " + signal;
    return line;
}

namespace {

// "12 из 500", or "12" without a limit; a dash while the SIM's counts are unknown.
std::string CountText(std::optional<int> count, int limit) {
    if (!count) return "-";
    std::string text = std::to_string(*count);
    if (limit > 0) text += codepage::FromUtf8(" из ") + std::to_string(limit);
    return text;
}

}  // namespace

PoolModemCells DescribePoolModem(const AppCore::PoolModemView& modem,
                                 const settings::SimSettings& sim) {
    PoolModemCells cells;
    cells.port = ComName(modem.port);
    const modem::ModemStatus& status = modem.seen.status;
    if (modem.same_modem_as != 0) {
        cells.state =
            codepage::FromUtf8("другой порт модема на COM") + std::to_string(modem.same_modem_as);
    } else {
        cells.state = ModemStateWord(status.state);
        if (!modem.sends) cells.state += codepage::FromUtf8(", не отправляет");
    }
    if (status.state == modem::ModemState::Ready) {
        cells.operator_name = modem.seen.info.operator_name;
        cells.signal = SignalLevelText(modem.seen.info.signal);
    }
    cells.sim = sim.name.empty() ? SimKey(modem.seen.identity) : sim.name;
    cells.imei = modem.seen.identity.imei;
    const auto usage = modem.usage;
    cells.today =
        CountText(usage ? std::optional<int>(usage->day) : std::nullopt, sim.limits.per_day);
    cells.hour =
        CountText(usage ? std::optional<int>(usage->hour) : std::nullopt, sim.limits.per_hour);
    return cells;
}

std::string PoolLine(const std::vector<AppCore::PoolModemView>& modems) {
    std::size_t ready = 0;
    int today = 0;
    for (const AppCore::PoolModemView& modem : modems) {
        if (modem.seen.status.state == modem::ModemState::Ready && modem.same_modem_as == 0)
            ++ready;
        if (modem.usage) today += modem.usage->day;
    }
    std::string line = codepage::FromUtf8("Модемы: готовы ");
    line += std::to_string(ready);
    line += codepage::FromUtf8(" из ");
    line += std::to_string(modems.size());
    line += codepage::FromUtf8(", отправлено сегодня: ");
    line += std::to_string(today);
    return line;
}

std::string PoolModemLine(const PoolModemCells& cells) {
    std::string line = cells.port + ": " + cells.state;
    for (const std::string* part : {&cells.operator_name, &cells.signal})
        if (!part->empty()) line += ", " + *part;
    if (!cells.sim.empty()) line += "; SIM " + cells.sim;
    line += codepage::FromUtf8("; сегодня ") + cells.today;
    return line;
}

std::string ReceptionText(modem::Reception mode) {
    switch (mode) {
        case modem::Reception::Announced:
            return codepage::FromUtf8("Новые сообщения: модем извещает о них сразу");
        case modem::Reception::Polled:
            return codepage::FromUtf8("Новые сообщения: модем опрашивается каждые 5 секунд");
        case modem::Reception::Distrusted:
            return codepage::FromUtf8(
                "Новые сообщения: модем принимал их без извещения, поэтому опрашивается "
                "каждые 5 секунд");
    }
    return {};
}

std::string QueueLine(std::size_t count) {
    return codepage::FromUtf8("В очереди: ") + std::to_string(count);
}

std::string BulkLine(const BulkProgress& bulk) {
    if (bulk.total == 0) return {};
    return codepage::FromUtf8("Отправлено ") + std::to_string(bulk.done) +
           codepage::FromUtf8(" из ") + std::to_string(bulk.total);
}

std::string FailureLine(const std::string& refusal, Clock::time_point next_attempt,
                        Clock::time_point now) {
    std::string line = refusal.empty() ? codepage::FromUtf8("Модем не ответил")
                                       : codepage::FromUtf8("Модем отказал (") + refusal + ")";
    if (next_attempt <= now) return line + codepage::FromUtf8(", повтор сейчас");
    const auto left = std::chrono::ceil<std::chrono::seconds>(next_attempt - now);
    return line + codepage::FromUtf8(", повтор через ") + std::to_string(left.count()) +
           codepage::FromUtf8(" с");
}

std::string QueueStateText(const QueueRow& row, Clock::time_point now) {
    switch (row.state) {
        case QueueRowState::Sending:
            return codepage::FromUtf8(row.again_whole
                                          ? "отправляется заново целиком через другую SIM: та, "
                                            "через которую ушло начало, не отвечает"
                                          : "отправляется");
        case QueueRowState::Waiting:
            if (!row.held_for_via.empty())
                return codepage::FromUtf8("ждёт модем «") + row.held_for_via +
                       codepage::FromUtf8("»: он сейчас не отправляет");
            return codepage::FromUtf8("ждёт");
        case QueueRowState::Resting:
            return FailureLine(row.refusal, row.next_attempt, now);
        case QueueRowState::Unsendable:
            return codepage::FromUtf8("не может быть отправлено");
    }
    return {};
}

std::string ErrandNotRunText(const modem::ModemStatus& status, bool closing) {
    if (closing) return codepage::FromUtf8("Программа закрывается, запрос к модему не выполнен.");
    return codepage::FromUtf8("Модем не готов (") + ModemStateWord(status.state) +
           codepage::FromUtf8("), запрос не выполнен.");
}

std::string ErrandModemUnknownText(std::string_view via) {
    return codepage::FromUtf8("Модем «") + std::string(via) +
           codepage::FromUtf8(
               "» не найден среди модемов, или его SIM-карта ещё не была готова; запрос не "
               "выполнен.");
}

std::string PortDeniedText(const DeviceDenial& denial) {
    return codepage::FromUtf8(
        "Нет прав на порт модема " + denial.device + ": устройство принадлежит группе " +
        denial.group + ", а пользователь " + denial.user +
        " в неё не входит. Добавьте его в группу командой\r\n    sudo usermod -aG " + denial.group +
        " " + denial.user +
        "\r\nи войдите в систему заново. Сообщения ждут в очереди; порт будет открыт снова.");
}

std::string PortDeniedEnglish(const DeviceDenial& denial) {
    return "permission denied on the modem's port " + denial.device +
           ": the device belongs to group " + denial.group + " and user " + denial.user +
           " is not in it; add the user with 'sudo usermod -aG " + denial.group + " " +
           denial.user + "' and log in again.";
}

std::string ModemStateText(const modem::ModemStatus& status) {
    using modem::ModemState;
    std::string text;
    switch (status.state) {
        case ModemState::Unknown:
        case ModemState::Ready:
        case ModemState::PortMissing:
            return {};
        case ModemState::PortDenied:
            return status.denial ? PortDeniedText(*status.denial) : std::string();
        case ModemState::NotAnswering:
            return codepage::FromUtf8(
                "Модем не отвечает. Программа переоткрывает порт и пробует снова; сообщения "
                "ждут в очереди.");
        case ModemState::PinNeeded:
            text = "SIM-карта модема запрашивает PIN-код.";
            break;
        case ModemState::PinRefused:
            text = "Неверный PIN-код.";
            break;
        case ModemState::PukNeeded:
            text = "SIM-карта заблокирована: нужен PUK-код. Разблокируйте её в телефоне.";
            break;
        case ModemState::PhoneLocked:
            text = "Модем привязан к другой SIM-карте и запрашивает код PH-SIM PIN.";
            break;
        case ModemState::NoSim:
            text = "В модеме нет SIM-карты.";
            break;
        case ModemState::SimFailure:
            text = "SIM-карта модема неисправна или не читается.";
            break;
    }
    if (status.tries_left >= 0)
        text += " Осталось попыток: " + std::to_string(status.tries_left) + ".";
    text += " Сообщения не отправляются и не принимаются; модем будет опрошен снова.";
    return codepage::FromUtf8(text);
}

StoreFailureText StoreFailureWarning(StoreFile file) {
    constexpr const char* kWrittenLater = "Запись будет сделана, как только диск её примет.";
    switch (file) {
        case StoreFile::Inbox:
            return {codepage::FromUtf8("Не удалось сохранить принятые сообщения."),
                    codepage::FromUtf8("Они остаются в модеме и будут сохранены, как только "
                                       "запись станет возможна.")};
        case StoreFile::Outbox:
            return {codepage::FromUtf8(
                        "Не удалось записать отправленное сообщение в список отправленных."),
                    codepage::FromUtf8(kWrittenLater)};
        case StoreFile::Unsent:
            return {codepage::FromUtf8("Не удалось записать сообщение, которое нельзя отправить."),
                    codepage::FromUtf8(kWrittenLater)};
        case StoreFile::Queue:
            return {codepage::FromUtf8("Не удалось записать очередь отправки."),
                    codepage::FromUtf8("Отправка продолжается, но если программа закроется "
                                       "раньше, чем запись удастся, часть сообщений может "
                                       "уйти повторно.")};
    }
    return {};
}

std::string QueueDamageWarning(const QueueDamage& damage) {
    return codepage::FromUtf8("Часть очереди отправки повреждена и не может быть прочитана (" +
                              std::to_string(damage.bytes) + " байт). Она сохранена в файле ") +
           damage.kept_in.substr(damage.kept_in.find_last_of("\\/") + 1) +
           codepage::FromUtf8(
               " рядом с программой. Остальные сообщения очереди будут "
               "отправлены.");
}

}  // namespace velka::app
