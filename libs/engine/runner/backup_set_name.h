// Names and marks of the backup sets a backup rule writes into its backup folder:
//   kivo-<rule id>-<YYYYMMDD>-<HHMMSS>[-<n>][-incomplete][.tmp]
// local time of the run; -<n> when a set of that second exists; -incomplete when some files failed;
// .tmp while the set is written (or being removed). Inside each set a mark file ".kivo-set" names the
// rule and the UTC time of the run, so retention only ever touches sets that are provably the rule's;
// beside it ".kivo-manifest" records what the set holds (backup_manifest.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_system.h"

namespace kivo {

constexpr std::string_view kSetMarkName = ".kivo-set";
constexpr std::string_view kSetManifestName = ".kivo-manifest";

std::string SetBaseName(int32_t ruleId, const fs::CivilTime& local, int sequence);

struct SetName {
    bool temporary = false;
    bool incomplete = false;
};
// Whether name is one of this rule's set names.
std::optional<SetName> ParseSetName(std::string_view name, int32_t ruleId);

std::string SetMarkText(int32_t ruleId, int64_t created);
struct SetMark {
    int32_t ruleId = 0;
    int64_t created = 0;
};
std::optional<SetMark> ParseSetMark(std::string_view text);

}  // namespace kivo
