// The run-log line through which kivo_backup and kivo_restore report how far along they are: the
// files and bytes done so far. The engine writes it and the app reads it back, both through the
// two functions below, so the two sides cannot drift apart. Texts are GBK.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class ManualOperation { Backup, Restore };

struct ManualProgress {
    ManualOperation operation;
    uint64_t files;
    uint64_t bytes;
    bool operator==(const ManualProgress&) const = default;
};

namespace manual_progress_text {
inline constexpr std::string_view kBackupHead = "已打包 ";
inline constexpr std::string_view kRestoreHead = "已解压并校验 ";
inline constexpr std::string_view kMiddle = " 个文件，共 ";
inline constexpr std::string_view kTail = " 字节";

// Reads a decimal number at the front of text and drops it from text; nothing on overflow.
inline std::optional<uint64_t> TakeDecimal(std::string_view& text) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return std::nullopt;
    text.remove_prefix(size_t(end - text.data()));
    return value;
}

inline bool TakePrefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}
}  // namespace manual_progress_text

// "已打包 N 个文件，共 B 字节" (backup) or "已解压并校验 N 个文件，共 B 字节" (restore).
inline std::string ManualProgressLine(const ManualProgress& progress) {
    using namespace manual_progress_text;
    std::string line(progress.operation == ManualOperation::Backup ? kBackupHead : kRestoreHead);
    line += std::to_string(progress.files);
    line += kMiddle;
    line += std::to_string(progress.bytes);
    line += kTail;
    return line;
}

// The figures of a progress line; nothing for any other line. Allocates nothing and never throws,
// so the run-log callback may call it on the engine's thread.
inline std::optional<ManualProgress> ParseManualProgressLine(std::string_view line) noexcept {
    using namespace manual_progress_text;
    ManualProgress progress{};
    if (TakePrefix(line, kBackupHead)) {
        progress.operation = ManualOperation::Backup;
    } else if (TakePrefix(line, kRestoreHead)) {
        progress.operation = ManualOperation::Restore;
    } else {
        return std::nullopt;
    }
    const auto files = TakeDecimal(line);
    if (!files || !TakePrefix(line, kMiddle)) return std::nullopt;
    const auto bytes = TakeDecimal(line);
    if (!bytes || line != kTail) return std::nullopt;
    progress.files = *files;
    progress.bytes = *bytes;
    return progress;
}
