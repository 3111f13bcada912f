// The Config.ini reader and writer of the portable profile functions: the file is
// the user's, so it may hold anything. A read gives a value of one line; a write
// that is refused leaves the file as it was; a write that succeeds reads back as
// written and leaves every other key's value as it was.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/profile_names.h"
#include "platform/text.h"

namespace velka {
namespace {

constexpr std::string_view kMissing = "\x01missing";

struct Name {
    std::string section;
    std::string key;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The value a read gives back for a line "key=value": trimmed of blanks, then of
// one pair of matching quotes.
std::string AsRead(std::string_view value) {
    value = TrimBlanks(value);
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == '"' || value.front() == '\'')) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

bool SameName(const Name& a, const Name& b) {
    return codepage::EqualIgnoreCase(TrimBlanks(a.section), TrimBlanks(b.section)) &&
           codepage::EqualIgnoreCase(TrimBlanks(a.key), TrimBlanks(b.key));
}

std::string Read(const std::string& file, const Name& name) {
    const std::string value = profile::ReadString(file, name.section, name.key, kMissing);
    FUZZ_CHECK(value.find('\n') == std::string::npos);
    return value;
}

}  // namespace
}  // namespace velka

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const velka::Name written{input.ConsumeRandomLengthString(16),
                              input.ConsumeRandomLengthString(16)};
    const std::string value = input.ConsumeRandomLengthString(32);
    const std::string contents = input.ConsumeRemainingBytesAsString();
    const std::string file = velka::fuzz::WriteScratchFile("Config.ini", contents);

    // The keys the program reads, and the one the input names.
    const velka::Name others[] = {{"DEVICEMAP", "SerialPort"}, {"DEVICEMAP", "PerformMailCheck"}};
    std::string before[std::size(others)];
    for (std::size_t i = 0; i < std::size(others); ++i) before[i] = velka::Read(file, others[i]);
    velka::Read(file, written);

    const velka::Status status =
        velka::profile::WriteString(file, written.section, written.key, value);
    if (!status) {
        FUZZ_CHECK(velka::ReadFile(file) == contents);
        return 0;
    }
    FUZZ_CHECK(velka::Read(file, written) == velka::AsRead(value));
    for (std::size_t i = 0; i < std::size(others); ++i) {
        if (!velka::SameName(others[i], written))
            FUZZ_CHECK(velka::Read(file, others[i]) == before[i]);
    }
    return 0;
}
