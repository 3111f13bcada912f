#include "store/store_file.h"

#include <utility>

#include "platform/files.h"
#include "platform/program_dir.h"

namespace velka::store {
namespace {

std::string Serialise(std::span<const packet> records) {
    std::string bytes;
    bytes.reserve(records.size() * kPacketSize);
    for (const packet& record : records) {
        const PacketBytes encoded = EncodePacket(record);
        bytes.append(encoded.data(), encoded.size());
    }
    return bytes;
}

}  // namespace

Result<std::vector<packet>> Load(const std::string& path) {
    auto box = BoxFile::Open(path);
    if (!box) return box.error();
    std::vector<packet> records;
    records.reserve(box->size());
    for (std::size_t i = 0; i < box->size(); ++i) records.push_back(box->at(i));
    return records;
}

Status Append(const BoxLock&, const std::string& path, std::span<const packet> records) {
    return files::AppendDurably(path, Serialise(records), kPacketSize);
}

Result<std::uint64_t> RecordCount(const std::string& path) {
    return WholeRecords(path, kPacketSize);
}

Result<std::uint64_t> WholeRecords(const std::string& path, std::size_t record_size) {
    if (!files::Exists(path)) return std::uint64_t{0};
    auto size = files::Size(path);
    if (!size) return size.error();
    return *size / record_size;
}

Status Save(const BoxLock&, const std::string& path, std::span<const packet> records) {
    return files::SaveDurably(path, Serialise(records));
}

Result<BoxFile> BoxFile::Open(const std::string& path) {
    auto mapped = MappedFile::OpenOrEmpty(path);
    if (!mapped) return mapped.error();
    return BoxFile(std::move(*mapped));
}

BoxFile::BoxFile(MappedFile file)
    : file_(std::move(file)), count_(file_.bytes().size() / kPacketSize) {}

packet BoxFile::at(std::size_t index) const {
    return DecodePacket(file_.bytes().data() + index * kPacketSize);
}

std::uint32_t BoxFile::ChecksumAt(std::size_t index) const {
    return DecodeChecksum(file_.bytes().data() + index * kPacketSize);
}

std::string FileBeside(const std::string& box_path, const std::string& name) {
    const std::string directory = files::DirectoryOf(box_path);
    return directory.empty() ? name : InDirectory(directory, name);
}

std::string SideFilePath(const std::string& box_path, std::string_view extension) {
    const std::size_t dot = box_path.rfind('.');
    const std::size_t separator = box_path.find_last_of("/\\");
    const bool has_extension =
        dot != std::string::npos && (separator == std::string::npos || dot > separator);
    return (has_extension ? box_path.substr(0, dot + 1) : box_path + ".") + std::string(extension);
}

}  // namespace velka::store
