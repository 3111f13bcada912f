// The "AT+CMGL" listing: whatever lines the modem sends, ParseListing keeps only
// header lines with a decimal index and the hexadecimal line that fits them, and
// every message it keeps becomes an inbox record whose fields hold their limits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "modem/inbox_sink.h"
#include "modem/receive.h"
#include "store/packet.h"

namespace velka {
namespace {

// The input's lines as the port reader gives them: split at LF, without the CR.
std::vector<std::string> SplitLines(std::string_view input) {
    std::vector<std::string> lines;
    while (!input.empty()) {
        const std::size_t end = std::min(input.find('\n'), input.size());
        std::string_view line = input.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        input.remove_prefix(std::min(end + 1, input.size()));
    }
    return lines;
}

bool IsDecimal(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

void CheckRecord(const packet& record) {
    FUZZ_CHECK(record.state == kPacketStored);
    FUZZ_CHECK(record.number_text().size() <= kMaxNumberLength);
    FUZZ_CHECK(record.datetime_text().size() <= kMaxDateTimeLength);
    FUZZ_CHECK(record.text_len <= kMaxTextLength);
    const packet stored = DecodePacket(EncodePacket(record).data());
    FUZZ_CHECK(stored.number_text() == record.number_text());
    FUZZ_CHECK(stored.datetime_text() == record.datetime_text());
    FUZZ_CHECK(stored.text_len == record.text_len && stored.checksum == record.checksum);
    FUZZ_CHECK(std::string_view(stored.text, stored.text_len) ==
               std::string_view(record.text, record.text_len));
}

}  // namespace
}  // namespace velka

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> lines =
        velka::SplitLines(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::vector<velka::modem::ListedMessage> messages = velka::modem::ParseListing(lines);
    const auto headers = std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find(':') != std::string::npos;
    });
    FUZZ_CHECK(messages.size() <= static_cast<std::size_t>(headers));
    for (const velka::modem::ListedMessage& message : messages) {
        FUZZ_CHECK(velka::IsDecimal(message.index));
        FUZZ_CHECK(!message.pdu.empty() && message.pdu.size() % 2 == 0);
        FUZZ_CHECK(velka::fuzz::IsUpperHex(message.pdu));
        velka::CheckRecord(velka::modem::MakeReceivedRecord(message.pdu).record);
    }
    return 0;
}
