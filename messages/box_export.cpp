#include "messages/box_export.h"

#include "platform/codepage.h"

namespace velka::messages {

std::string CsvField(std::string_view utf8) {
    if (utf8.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(utf8);
    std::string quoted = "\"";
    for (const char c : utf8) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string MessagesCsv(const std::vector<store::JoinedMessage>& messages,
                        const contacts::NumberNames& names) {
    std::string csv = "number,name,date,text,state\r\n";
    for (const store::JoinedMessage& message : messages) {
        csv += CsvField(codepage::ToUtf8(message.number)) + ',' +
               CsvField(codepage::ToUtf8(names.NameOf(message.number))) + ',' +
               CsvField(codepage::ToUtf8(message.datetime)) + ',' +
               CsvField(codepage::Utf16ToUtf8(message.WholeText())) + ',' +
               CsvField(codepage::ToUtf8(message.state)) + "\r\n";
    }
    return csv;
}

}  // namespace velka::messages
