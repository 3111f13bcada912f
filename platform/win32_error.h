// The system's own text for a Win32 error code, for messages of the platform layer
// and the serial component on Windows. Windows only; any thread.
#pragma once

#include <string>

namespace velka::win32 {

// FormatMessage's text for `code` from the system message table, in the ANSI code
// page, with line breaks and repeated blanks reduced to single blanks; "" when the
// system has no text for it.
std::string ErrorText(unsigned long code);

}  // namespace velka::win32
