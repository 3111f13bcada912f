// The SIM's phone book as the session reads it (Session::ReadPhoneBook): its
// entries, and why a reading gave none. Part of the session's face.
#pragma once

#include <string>

namespace velka::modem {

// One entry of the SIM's phone book.
struct PhoneBookEntry {
    int index = 0;       // its place on the SIM, from the first index the modem names
    std::string number;  // as the SIM holds it
    int type = 129;      // TS 24.008 type of number: 145 international, 129 unknown
    std::string name;    // UTF-8, whatever character set the modem gave it in

    // The number as people write it: "+" before an international one.
    std::string Dialled() const;
    bool operator==(const PhoneBookEntry&) const = default;
};

// Why the phone book was not read. Nothing of a reading that failed is given: a
// part of the book would pass for the whole of it.
struct PhoneBookError {
    enum class Kind {
        NotReady,     // the modem is not open or its SIM is not ready: Session::Status says which
        NoPhoneBook,  // the modem refused the SIM's phone book ("AT+CPBS" or "AT+CPBR=?")
        NoCharset,    // the modem offers none of the character sets names are read in
        Refused,      // the modem refused a reading of entries
        Malformed,    // an answer could not be read: `answer` holds its line
        Silent,       // the modem did not answer within its bound
        Stopped,      // the session's stop signal ended the reading
    };
    Kind kind = Kind::Silent;
    std::string answer;  // the modem's refusal or the unreadable line, as it came
};

}  // namespace velka::modem
