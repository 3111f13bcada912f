// The system's own error texts on POSIX: the C library's description of errno values.
#include <cstring>

#include "serial/ser_except.h"

namespace velka {

std::string SystemErrorText(int error_number) {
    // strerrordesc_np, unlike strerror, answers "no text" for numbers it does not know
    // instead of inventing "Unknown error N", and is safe from any thread.
    const char* text = ::strerrordesc_np(error_number);
    return text ? std::string(text) : std::string();
}

}  // namespace velka
