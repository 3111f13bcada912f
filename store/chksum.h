// The keyed checksum of a record's text. It covers the text bytes only; nothing
// verifies it on reading, but it is part of the record format other tools read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velka {

// Each byte is XORed with a key byte advanced by twice its position, both taken
// as signed 8-bit values, and the results summed modulo 2^32.
std::uint32_t chksum(const char* bytes, std::size_t length);

}  // namespace velka
