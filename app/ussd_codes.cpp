#include "app/ussd_codes.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/text.h"

namespace velka::app {

std::vector<std::string> LoadUssdCodes(const std::string& path) {
    std::vector<std::string> codes;
    const auto contents = files::ReadAll(path);
    if (!contents) return codes;
    std::size_t start = 0;
    while (start < contents->size() && codes.size() < kUssdCodesKept) {
        const std::size_t end = std::min(contents->find('\n', start), contents->size());
        std::string code(TrimBlanks(std::string_view(*contents).substr(start, end - start)));
        if (!code.empty() && code.back() == '\r') code.pop_back();
        if (!code.empty()) codes.push_back(std::move(code));
        start = end + 1;
    }
    return codes;
}

Status RememberUssdCode(const std::string& path, const std::string& code) {
    const std::string trimmed(TrimBlanks(code));
    if (trimmed.empty()) return {};
    std::vector<std::string> codes = LoadUssdCodes(path);
    std::erase(codes, trimmed);
    codes.insert(codes.begin(), trimmed);
    if (codes.size() > kUssdCodesKept) codes.resize(kUssdCodesKept);
    std::string contents;
    for (const std::string& kept : codes) contents += kept + "\n";
    return files::SaveDurably(path, contents);
}

}  // namespace velka::app
