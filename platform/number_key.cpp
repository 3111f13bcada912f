#include "platform/number_key.h"

namespace velka {
namespace {

constexpr std::size_t kRussianNationalDigits = 11;

}  // namespace

std::string NumberKey(std::string_view number) {
    std::string digits;
    for (const char c : number) {
        if (c >= '0' && c <= '9') digits += c;
    }
    if (digits.size() == kRussianNationalDigits && digits.front() == '8' &&
        !number.starts_with('+')) {
        digits.front() = '7';
    }
    return digits;
}

}  // namespace velka
