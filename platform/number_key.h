// The digits that identify a telephone number, for every layer that asks whether two
// numbers are the same: the contact book naming a sender, a search for a number's
// messages, a status report finding the message it speaks of. Pure; any thread.
#pragma once

#include <string>
#include <string_view>

namespace velka {

// Every digit in order, blanks, dashes, brackets and the "+" left out; a Russian
// number written nationally ("8" and ten digits) becomes the international one
// ("7" and ten digits). A name without digits ("MTS") gives an empty key, which
// callers take to match nothing.
std::string NumberKey(std::string_view number);

}  // namespace velka
