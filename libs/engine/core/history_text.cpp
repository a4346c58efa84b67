#include "history_text.h"

#include <algorithm>
#include <cstdio>

#include "civil_date.h"
#include "shared_files.h"

namespace kivo {
namespace {

bool Digits(std::string_view text, int& value) {
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

std::string HistoryText::FileName(int64_t localDay) {
    const CivilDate date = CivilFromDays(localDay);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d.log", date.year, date.month, date.day);
    return buf;
}

std::optional<int64_t> HistoryText::DayOfFileName(std::string_view name) {
    int year = 0, month = 0, day = 0;
    if (name.size() != 14 || name[4] != '-' || name[7] != '-' || name.substr(10) != ".log" ||
        !Digits(name.substr(0, 4), year) || !Digits(name.substr(5, 2), month) ||
        !Digits(name.substr(8, 2), day) || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return std::nullopt;
    return DaysFromCivil(year, month, day);
}

std::string HistoryText::Stamp(int64_t local) {
    const CivilDate date = CivilFromDays(FloorDiv(local, kSecondsPerDay));
    const int64_t second = FloorMod(local, kSecondsPerDay);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d ", date.year, date.month, date.day,
                  int(second / 3600), int(second / 60 % 60), int(second % 60));
    return buf;
}

void HistoryText::CloseExactName(std::string& out, size_t start) {
    for (size_t i = start + 1; i < out.size(); ++i) {
        if (static_cast<unsigned char>(out[i]) >= 0x80) {
            out += kExactName;
            return;
        }
    }
    out.erase(start, 1);
}

std::string HistoryText::ScreenText(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (size_t pos = 0; pos < line.size();) {
        const size_t open = line.find(kExactName, pos);
        out += line.substr(pos, open - pos);
        if (open == line.npos) break;
        const size_t close = std::min(line.find(kExactName, open + 1), line.size());
        const std::string_view name = line.substr(open + 1, close - open - 1);
        if (auto whole = shared::GbkFromUtf8(name)) {
            out += *whole;
        } else {
            // One character at a time: what GBK lacks is '?', the rest stays readable.
            for (size_t at = 0; at < name.size();) {
                const size_t n = std::max<size_t>(Utf8SequenceAt(name, at), 1);
                auto one = shared::GbkFromUtf8(name.substr(at, n));
                out += one ? *one : std::string("?");
                at += n;
            }
        }
        pos = close + 1;
    }
    return out;
}

size_t HistoryText::Utf8SequenceAt(std::string_view text, size_t pos) {
    auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned lead = byte(pos);
    size_t n = 0;
    unsigned cp = 0;
    if (lead < 0x80) return pos < text.size() ? 1 : 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2, cp = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, cp = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, cp = lead & 0x07;
    else
        return 0;
    for (size_t i = 1; i < n; ++i) {
        const unsigned next = byte(pos + i);
        if ((next & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

}  // namespace kivo
