// The compose window's draft: the recipients and the text the user chose to keep
// when closing the window, read back at the next compose. One draft at a time, in
// the file kDraftFile beside the store files (docs/draft-file.md).
//
// The texts are UTF-8, as the window holds them, so that a draft keeps every
// character typed, inside Windows-1251 or not. Blocking file calls; the UI thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace velka::compose {

inline constexpr const char* kDraftFile = "compose.draft";

struct Draft {
    std::string recipients;  // the recipient list text, one line
    std::string text;        // line breaks as "\n"
    bool Empty() const { return recipients.empty() && text.empty(); }
    bool operator==(const Draft&) const = default;
};

// The file's contents and their reading. A text that is not a draft is an Error
// naming what is wrong.
std::string DraftFileText(const Draft& draft);
Result<Draft> ParseDraft(std::string_view contents);

// The kept draft: none when the file is missing or empty. A file that is not a
// draft is copied aside to `path` + kUnreadableSuffix, so that what it held is not
// written over by the next kept draft, and its Error says where it went.
Result<std::optional<Draft>> LoadDraft(const std::string& path);
inline constexpr const char* kUnreadableSuffix = ".unreadable";

// Keeps `draft` durably; an empty one discards the draft.
Status SaveDraft(const std::string& path, const Draft& draft);
// Nothing kept any more: the file is emptied where it exists.
Status DiscardDraft(const std::string& path);

}  // namespace velka::compose
