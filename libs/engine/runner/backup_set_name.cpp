#include "backup_set_name.h"

#include <cstdio>

#include "installation_id.h"

namespace kivo {
namespace {

bool Digits(std::string_view text, size_t n) {
    if (text.size() != n) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

bool ConsumePrefix(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    text.remove_prefix(prefix.size());
    return true;
}

bool ConsumeSuffix(std::string_view& text, std::string_view suffix) {
    if (text.size() < suffix.size() || text.substr(text.size() - suffix.size()) != suffix) return false;
    text.remove_suffix(suffix.size());
    return true;
}

std::optional<int64_t> Number(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    bool negative = text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return negative ? -v : v;
}

}  // namespace

std::string SetBaseName(int32_t ruleId, const fs::CivilTime& t, int sequence) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "kivo-%d-%04d%02d%02d-%02d%02d%02d", int(ruleId), t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    std::string name = buf;
    if (sequence > 1) {
        name += '-';
        name += std::to_string(sequence);
    }
    return name;
}

std::optional<SetName> ParseSetName(std::string_view name, int32_t ruleId) {
    SetName out;
    out.temporary = ConsumeSuffix(name, ".tmp");
    out.incomplete = ConsumeSuffix(name, "-incomplete");
    if (!ConsumePrefix(name, "kivo-" + std::to_string(ruleId) + "-")) return std::nullopt;
    if (name.size() < 15 || !Digits(name.substr(0, 8), 8) || name[8] != '-' ||
        !Digits(name.substr(9, 6), 6)) {
        return std::nullopt;
    }
    name.remove_prefix(15);
    if (!name.empty()) {
        if (name.front() != '-' || name.size() < 2 || name.size() > 4) return std::nullopt;
        for (char c : name.substr(1)) {
            if (c < '0' || c > '9') return std::nullopt;
        }
    }
    return out;
}

std::string SetMarkText(int32_t ruleId, int64_t created, std::string_view installation) {
    std::string text =
        "kivo backup set\nrule=" + std::to_string(ruleId) + "\ncreated=" + std::to_string(created) + "\n";
    if (!installation.empty()) {
        text += "installation=";
        text += installation;
        text += '\n';
    }
    return text;
}

std::optional<SetMark> ParseSetMark(std::string_view text) {
    if (!ConsumePrefix(text, "kivo backup set\n")) return std::nullopt;
    std::optional<int64_t> rule, created;
    std::string installation;
    while (!text.empty()) {
        size_t end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        if (ConsumePrefix(line, "rule=")) {
            rule = Number(line);
        } else if (ConsumePrefix(line, "created=")) {
            created = Number(line);
        } else if (ConsumePrefix(line, "installation=")) {
            // A mark whose owner cannot be read is nobody's to touch.
            if (!IsInstallationId(line)) return std::nullopt;
            installation = line;
        }
    }
    if (!rule || !created || *rule < 1 || *rule > INT32_MAX) return std::nullopt;
    return SetMark{int32_t(*rule), *created, std::move(installation)};
}

bool OwnedBy(const SetMark& mark, int32_t ruleId, std::string_view installation) {
    return mark.ruleId == ruleId && (mark.installation.empty() || mark.installation == installation);
}

}  // namespace kivo
