// Reading one file of a backup's source, for a backup set and for a .bkp alike: it is opened through
// its folder, and checked once read for having changed meanwhile, so that no copy poses as the file.
#pragma once

#include <optional>
#include <string>

#include "runner_options.h"

namespace kivo {

// Opens the file to read it, after the OpenSource seam. nullopt when open, else the reason for the
// log; a file gone since its folder was listed says so.
std::optional<std::string> OpenSourceFile(const RunnerOptions& options, const fs::Dir& parent,
                                          const fs::NativeString& name, const fs::NativeString& relative,
                                          fs::File& in);

// The open file's size and time before it is read, then the SourceOpened seam. nullopt, or the reason.
std::optional<std::string> SourceFactsBefore(const RunnerOptions& options, const fs::File& in,
                                             const fs::NativeString& relative, fs::Facts& before);

// Once before.size bytes are read: why the file no longer matches `before`, or nullptr.
const char* ChangedWhileRead(const fs::File& in, const fs::Facts& before);

}  // namespace kivo
