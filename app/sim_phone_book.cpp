#include "app/sim_phone_book.h"

#include <utility>

#include "app/status_text.h"
#include "platform/codepage.h"

namespace velka::app {
namespace {

// The modem's own words after a sentence, where it gave some.
std::string WithAnswer(std::string_view sentence, const std::string& answer) {
    std::string text = codepage::FromUtf8(sentence);
    if (!answer.empty()) text += " (" + answer + ")";
    return text + '.';
}

}  // namespace

void ReadSimPhoneBook(AppCore& core, const std::function<void(SimPhoneBook read)>& done) {
    ModemErrand errand;
    errand.run = [done](modem::Session& session) {
        auto read = session.ReadPhoneBook();
        if (read) return done(std::move(*read));
        done(Error{PhoneBookFailureText(read.error(), session.Status())});
    };
    errand.failed = [done](const Error& why) { done(why); };
    core.RunOnModem(errand);
}

std::string PhoneBookFailureText(const modem::PhoneBookError& error,
                                 const modem::ModemStatus& status) {
    using Kind = modem::PhoneBookError::Kind;
    switch (error.kind) {
        case Kind::NotReady:
            return codepage::FromUtf8("Модем не готов (") + ModemStateWord(status.state) +
                   codepage::FromUtf8("), телефонная книга SIM-карты не прочитана.");
        case Kind::NoPhoneBook:
            return WithAnswer("На SIM-карте нет телефонной книги, или модем не даёт её прочитать",
                              error.answer);
        case Kind::NoCharset:
            return WithAnswer("Модем не предлагает ни одной знакомой программе кодировки имён",
                              error.answer);
        case Kind::Refused:
            return WithAnswer("Модем отказался читать телефонную книгу SIM-карты", error.answer);
        case Kind::Malformed:
            return WithAnswer("Модем ответил непонятно, телефонная книга SIM-карты не прочитана",
                              error.answer);
        case Kind::Silent:
            return codepage::FromUtf8("Модем не ответил, телефонная книга SIM-карты не прочитана.");
        case Kind::Stopped:
            return codepage::FromUtf8(
                "Программа закрывается, телефонная книга SIM-карты не прочитана.");
    }
    return {};
}

}  // namespace velka::app
