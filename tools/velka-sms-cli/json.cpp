#include "tools/velka-sms-cli/json.h"

#include <cstdio>

namespace velka::cli {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string JsonObject(const JsonMembers& members) {
    std::string out = "{";
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) out += ", ";
        out += JsonString(members[i].first) + ": " + members[i].second;
    }
    return out + "}";
}

std::string JsonArray(const std::vector<std::string>& values) {
    if (values.empty()) return "[]";
    std::string out = "[\n";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += "  " + values[i] + (i + 1 < values.size() ? ",\n" : "\n");
    }
    return out + "]";
}

}  // namespace velka::cli
