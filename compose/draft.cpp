#include "compose/draft.h"

#include <cerrno>

#include "platform/files.h"

namespace velka::compose {

namespace {

// The first line says what the file is, and which form of it: a later form can be
// told from this one, and an unrelated file from both.
constexpr std::string_view kMark = "Velka SMS draft 1\n";

}  // namespace

std::string DraftFileText(const Draft& draft) {
    std::string contents(kMark);
    contents += draft.recipients;
    contents += '\n';
    contents += draft.text;
    return contents;
}

Result<Draft> ParseDraft(std::string_view contents) {
    if (!contents.starts_with(kMark))
        return Error{"the file does not begin with the draft's mark line"};
    contents.remove_prefix(kMark.size());
    const std::size_t end_of_recipients = contents.find('\n');
    if (end_of_recipients == std::string_view::npos)
        return Error{"the file ends before the line of recipients does"};
    return Draft{std::string(contents.substr(0, end_of_recipients)),
                 std::string(contents.substr(end_of_recipients + 1))};
}

Result<std::optional<Draft>> LoadDraft(const std::string& path) {
    const Result<std::string> contents = files::ReadAll(path);
    if (!contents) {
        if (contents.error().system_code == ENOENT) return std::optional<Draft>();
        return contents.error();
    }
    if (contents->empty()) return std::optional<Draft>();
    Result<Draft> draft = ParseDraft(*contents);
    if (draft) return std::optional<Draft>(std::move(*draft));
    const std::string aside = path + kUnreadableSuffix;
    if (const Status kept = files::SaveDurably(aside, *contents); !kept)
        return Error{draft.error().message + "; copying it aside failed: " + kept.error().message};
    return Error{draft.error().message + "; it was copied to " + aside};
}

Status SaveDraft(const std::string& path, const Draft& draft) {
    if (draft.Empty()) return DiscardDraft(path);
    return files::SaveDurably(path, DraftFileText(draft));
}

Status DiscardDraft(const std::string& path) {
    if (!files::Exists(path)) return {};
    return files::SaveDurably(path, {});
}

}  // namespace velka::compose
