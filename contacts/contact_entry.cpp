#include "contacts/contact_entry.h"

#include <algorithm>

#include "platform/codepage.h"

namespace velka::contacts {
namespace {

bool IsNumberCharacter(char ch) {
    return ch == '+' || (ch >= '0' && ch <= '9');
}

// The texts are written here in UTF-8 and kept as Windows-1251 like every text.
std::string Text(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}

}  // namespace

std::optional<EntryProblem> CheckEntry(const Contact& entry) {
    if (!std::all_of(entry.number.begin(), entry.number.end(), IsNumberCharacter))
        return EntryProblem::InvalidNumber;
    if (entry.name.empty() || entry.number.empty()) return EntryProblem::EmptyFields;
    if (entry.group.find('\\') != std::string::npos) return EntryProblem::GroupWithBackslash;
    return std::nullopt;
}

std::string ProblemMessage(EntryProblem problem) {
    switch (problem) {
        case EntryProblem::InvalidNumber:
            return Text("Номер телефона задан неверно!");
        case EntryProblem::EmptyFields:
            return Text("Поля \"имя абонента\" и \"номер телефона\" не должны быть пустыми");
        case EntryProblem::GroupWithBackslash:
            return Text("Название группы не должно содержать знак \"\\\"");
    }
    return {};
}

std::string GroupOrDefault(std::string_view group, EntryMode mode) {
    if (!group.empty()) return std::string(group);
    return Text(mode == EntryMode::Add ? "нет" : "Нет");
}

std::string RemovalQuestion(std::string_view name) {
    return Text("Удалить запись \"") + std::string(name) + Text("\" из списка контактов");
}

RefusalText RefusalWarning(RefusedChange change, const Contact& contact) {
    const std::string quoted = "\"" + contact.name + "\"";
    switch (change) {
        case RefusedChange::Add:
            return {Text("Не удалось сохранить контакт ") + quoted + Text(" в реестре."),
                    Text("Контакт не добавлен.")};
        case RefusedChange::Edit:
            return {Text("Не удалось сохранить изменения контакта ") + quoted + Text(" в реестре."),
                    Text("Контакт остался прежним.")};
        case RefusedChange::OldKept:
            return {Text("Не удалось удалить из реестра прежнюю запись контакта ") + quoted + '.',
                    Text("Изменённый контакт сохранён; прежняя запись тоже остаётся в списке.")};
        case RefusedChange::Remove:
            return {Text("Не удалось удалить контакт ") + quoted + Text(" из реестра."),
                    Text("Контакт остаётся в списке.")};
    }
    return {};
}

}  // namespace velka::contacts
