// The store-file reader: inbox.db and outbox.db may hold anything a crash, a full
// disk or another program left. Load and BoxFile must read every whole record of
// 1076 bytes, pass over a shorter tail, and show each field within its limits,
// whatever its bytes and whatever text_len claims.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "store/content_file.h"
#include "store/packet.h"
#include "store/store_file.h"

namespace velka {
namespace {

void CheckFields(const packet& record) {
    FUZZ_CHECK(record.number_text().size() <= kNumberField);
    FUZZ_CHECK(record.datetime_text().size() <= kDateTimeField);
    FUZZ_CHECK(record.text_text().size() <= kTextField);
}

bool SameRecord(const packet& a, const packet& b) {
    const PacketBytes a_bytes = EncodePacket(a);
    const PacketBytes b_bytes = EncodePacket(b);
    return a_bytes == b_bytes;
}

}  // namespace
}  // namespace velka

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = velka::fuzz::WriteScratchFile(
        "inbox.db", std::string_view(reinterpret_cast<const char*>(data), size));
    const auto loaded = velka::store::Load(path);
    FUZZ_CHECK(loaded.ok());
    FUZZ_CHECK(loaded->size() == size / velka::kPacketSize);
    const auto box = velka::store::BoxFile::Open(path);
    FUZZ_CHECK(box.ok());
    FUZZ_CHECK(box->size() == loaded->size() && box->empty() == loaded->empty());
    for (std::size_t i = 0; i < box->size(); ++i) {
        const velka::packet record = box->at(i);
        velka::CheckFields(record);
        FUZZ_CHECK(velka::SameRecord(record, (*loaded)[i]));
        // A record read back from its own bytes is the same record.
        FUZZ_CHECK(
            velka::SameRecord(velka::DecodePacket(velka::EncodePacket(record).data()), record));
    }
    // The same bytes as a content file: whatever it holds, the entries read are whole
    // ones, and each is encoded again to bytes that read back as itself.
    const std::string content_path = velka::fuzz::WriteScratchFile(
        "inbox.content", std::string_view(reinterpret_cast<const char*>(data), size));
    const auto contents = velka::store::LoadContent(content_path);
    FUZZ_CHECK(contents.ok());
    for (const velka::store::ContentEntry& entry : contents->entries) {
        const std::string again = velka::store::EncodeContentEntry(entry);
        FUZZ_CHECK(again.size() <= size);
        const std::string again_path = velka::fuzz::WriteScratchFile("again.content", again);
        const auto read = velka::store::LoadContent(again_path);
        FUZZ_CHECK(read.ok() && read->entries.size() == 1 && read->entries[0] == entry);
    }
    return 0;
}
