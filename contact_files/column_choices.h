// The columns the user named for CSV headers the reader does not know, kept in a
// small text file of the program directory (docs/csv-columns-file.md) so that the
// next file with the same header is read without asking again.
//
// Titles are Windows-1251 in memory; two headers are the same when their titles
// are, in order, ignoring letter case and blanks at either end. Not thread-safe:
// one front end's thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace velka::contact_files {

inline constexpr char kColumnChoicesFile[] = "csv-columns.txt";

// Which columns, counted from 0, hold the name and the number.
struct ColumnChoice {
    std::size_t name = 0;
    std::size_t number = 0;
    bool operator==(const ColumnChoice&) const = default;
};

// True when the choice names two different columns of a header of `columns`.
bool FitsHeader(ColumnChoice choice, std::size_t columns);

// A column as people count it ("3", from 1) as a position from 0; nothing for
// anything else.
std::optional<std::size_t> ColumnFromNumber(std::string_view text);

class ColumnChoices {
  public:
    // The choices kept at `path`; none when the file does not exist. Lines that are
    // not choices are kept as they are and written back by Save. Blocks on the disk.
    static Result<ColumnChoices> Load(const std::string& path);

    std::optional<ColumnChoice> Find(const std::vector<std::string>& titles) const;
    // REQUIRES: FitsHeader(choice, titles.size()). Replaces an earlier choice for the header.
    void Remember(const std::vector<std::string>& titles, ColumnChoice choice);

    // Writes every choice to `path` durably. Blocks on the disk.
    Status Save(const std::string& path) const;

  private:
    struct Entry {
        std::vector<std::string> titles;  // as the file wrote them
        ColumnChoice choice;
    };
    std::vector<Entry>::const_iterator Place(const std::vector<std::string>& titles) const;

    std::vector<Entry> entries_;
    std::vector<std::string> unread_lines_;  // UTF-8, as the file held them
};

}  // namespace velka::contact_files
