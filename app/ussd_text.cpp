#include "app/ussd_text.h"

#include <chrono>

#include "platform/codepage.h"

namespace velka::app {

std::string UssdOutcomeText(const modem::UssdAnswer& answer) {
    using modem::UssdStatus;
    const auto text = [](std::string_view utf8) { return codepage::FromUtf8(utf8); };
    switch (answer.status) {
        case UssdStatus::Done:
        case UssdStatus::Question:
            return {};
        case UssdStatus::Ended:
            return text("Сеть завершила сеанс USSD.");
        case UssdStatus::OtherClient:
            return text("На запрос ответил другой клиент модема.");
        case UssdStatus::NotSupported:
            return text("Сеть не поддерживает этот запрос.");
        case UssdStatus::NetworkTimeout:
            return text("Сеть прервала сеанс USSD: истекло время ожидания.");
        case UssdStatus::NoAnswer:
            return text("Сеть не ответила за " +
                        std::to_string(std::chrono::seconds(modem::kUssdWait).count()) +
                        " с, сеанс USSD завершён.");
        case UssdStatus::Refused:
            return text("Модем отклонил запрос (") + answer.refusal + ").";
        case UssdStatus::Unreadable:
            return text("Ответ сети пришёл в кодировке, которую нельзя прочитать: ") + answer.raw;
        case UssdStatus::BadRequest:
            return text(
                "Запрос нельзя отправить: в нём допустимы латинские буквы, цифры и знаки * #.");
        case UssdStatus::NoModem:
            return text("Модем не готов, запрос не выполнен.");
        case UssdStatus::Stopped:
            return text("Программа закрывается, запрос прерван.");
    }
    return {};
}

std::string_view UssdStatusWord(modem::UssdStatus status) {
    constexpr std::string_view kWords[] = {
        "done",      "question", "ended",      "other-client", "not-supported", "network-timeout",
        "no-answer", "refused",  "unreadable", "bad-request",  "no-modem",      "stopped",
    };
    return kWords[static_cast<std::size_t>(status)];
}

bool UssdAnswered(const modem::UssdAnswer& answer) {
    using modem::UssdStatus;
    return answer.status == UssdStatus::Done || answer.status == UssdStatus::Question ||
           (answer.status == UssdStatus::Ended && !answer.text.empty());
}

}  // namespace velka::app
