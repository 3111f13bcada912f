#include "gateway/api_token.h"

#include <random>

#include "platform/files.h"
#include "platform/program_dir.h"

namespace velka::gateway {
namespace {

std::string TokenPath(const std::string& program_directory) {
    return InDirectory(program_directory, kTokenFile);
}

bool IsToken(std::string_view text) {
    return text.size() == 2 * kTokenBytes &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

// std::random_device reads the system's source (getrandom on Linux, rand_s on
// Windows), not a seeded generator: the token must not be guessable.
std::string RandomToken() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::random_device device;
    std::string token;
    while (token.size() < 2 * kTokenBytes) {
        const unsigned int word = device();
        for (int shift = 0; shift < 32 && token.size() < 2 * kTokenBytes; shift += 4)
            token.push_back(kDigits[(word >> shift) & 0xF]);
    }
    return token;
}

}  // namespace

Result<std::string> RenewToken(const std::string& program_directory) {
    std::string token = RandomToken();
    if (const Status saved = files::SaveDurably(TokenPath(program_directory), token + "\n"); !saved)
        return saved.error();
    return token;
}

Result<std::string> LoadOrMakeToken(const std::string& program_directory) {
    const std::string path = TokenPath(program_directory);
    if (files::Exists(path)) {
        const auto text = files::ReadAll(path);
        if (!text) return text.error();
        const std::string_view line =
            std::string_view(*text).substr(0, text->find_first_of("\r\n"));
        if (IsToken(line)) return std::string(line);
    }
    return RenewToken(program_directory);
}

bool TokenMatches(std::string_view expected, std::string_view given) {
    unsigned char difference = expected.size() == given.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char other = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference |= static_cast<unsigned char>(expected[i]) ^ other;
    }
    return difference == 0;
}

}  // namespace velka::gateway
