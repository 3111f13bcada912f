// The one crossing between the core's Windows-1251 text and Qt's UTF-16 strings.
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

}  // namespace velka::gui
