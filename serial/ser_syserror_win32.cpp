// The system's own error texts on Windows: FormatMessage from the system table.
#include "platform/win32_error.h"
#include "serial/ser_except.h"

namespace velka {

std::string SystemErrorText(int error_number) {
    return win32::ErrorText(static_cast<unsigned long>(error_number));
}

}  // namespace velka
