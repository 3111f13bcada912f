// The crossings between the core's text and Qt's UTF-16 strings: the program's own
// Windows-1251 texts, and the system's messages.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace velka::gui {

inline QString ToQt(std::string_view cp1251) {
    return QString::fromStdU16String(codepage::ToUtf16(cp1251));
}

// Characters that Windows-1251 lacks become '?'.
inline std::string FromQt(const QString& text) {
    return codepage::FromUtf16(text.toStdU16String());
}

// Messages the system gives (a file's path, the reason a call failed) come in the
// platform's own narrow encoding: UTF-8 here, the ANSI code page on Windows.
inline QString SystemTextToQt(std::string_view text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace velka::gui
