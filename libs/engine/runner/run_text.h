// The pieces of the runner's log lines: GBK texts of paths, numbers and failure reasons.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "file_system.h"

namespace kivo {

// Why an operation on a file failed, in a few GBK words.
std::string ReasonText(const fs::Status& status);

// The path a log line shows: the rule's own GBK text, then the relative part below it as it is on
// disk, an exact name (history_text.h): the history writes it as it is, the screen in GBK.
std::string LogPath(std::string_view rootGbk, const fs::NativeString& relative);
void AppendLogPath(std::string& out, std::string_view rootGbk, const fs::NativeString& relative);
// A UTF-8 name (of an archive entry) as an exact name.
std::string ExactName(std::string_view utf8);

std::string Decimal(uint64_t value);

// Appends "2023-11-04 22:13:20".
void AppendCivilTime(std::string& out, const fs::CivilTime& time);

// relative + separator + name, in the platform's form.
fs::NativeString JoinNative(const fs::NativeString& relative, const fs::NativeString& name);

}  // namespace kivo
