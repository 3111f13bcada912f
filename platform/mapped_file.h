// A read-only view of a whole file in memory, for listing large store files
// without reading them first (on Windows, which refuses to replace a mapped file,
// a copy read at open). The view shows the file as it was when opened: later
// appends are not seen, and a rename over the file leaves the view intact.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka {

class MappedFile {
  public:
    // Maps the file. A missing file is an Error with system_code ENOENT; an empty
    // file gives an empty view.
    static Result<MappedFile> Open(const std::string& path);
    // As Open, but a missing file gives an empty view: a store file that was never
    // written holds nothing.
    static Result<MappedFile> OpenOrEmpty(const std::string& path) {
        auto mapped = Open(path);
        if (!mapped && mapped.error().system_code == ENOENT) return MappedFile();
        return mapped;
    }

    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::string_view bytes() const { return {data_, size_}; }

  private:
    MappedFile(const char* data, std::size_t size) : data_(data), size_(size) {}
    void Release();

    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace velka
