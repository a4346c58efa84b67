// Names and marks of the backup sets a backup rule writes into its backup folder:
//   kivo-<rule id>-<YYYYMMDD>-<HHMMSS>[-<n>][-incomplete][.tmp]
// local time of the run; -<n> when a set of that second exists; -incomplete when some files failed;
// .tmp while the set is written (or being removed). Inside each set a mark file ".kivo-set" names the
// rule, the UTC time of the run and the installation that wrote it (installation_id.h), so that a run
// only ever touches sets that are provably its own; beside it ".kivo-manifest" records what the set
// holds (backup_manifest.h). While a working set "<name>.tmp" is written or removed, its run holds the
// lock file "<name>.tmp.lock" beside it (fs::FileLock); ".kivo-done" inside a working set says that its
// run finished it but could not give it its final name, which the file holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "file_system.h"

namespace kivo {

constexpr std::string_view kSetMarkName = ".kivo-set";
constexpr std::string_view kSetManifestName = ".kivo-manifest";
constexpr std::string_view kSetDoneName = ".kivo-done";
constexpr std::string_view kSetLockSuffix = ".lock";

std::string SetBaseName(int32_t ruleId, const fs::CivilTime& local, int sequence);

struct SetName {
    bool temporary = false;
    bool incomplete = false;
};
// Whether name is one of this rule's set names.
std::optional<SetName> ParseSetName(std::string_view name, int32_t ruleId);

// installation may be empty: such a mark names none, as marks made before there were identities.
std::string SetMarkText(int32_t ruleId, int64_t created, std::string_view installation = {});
struct SetMark {
    int32_t ruleId = 0;
    int64_t created = 0;
    std::string installation;
};
std::optional<SetMark> ParseSetMark(std::string_view text);
// Whether a set with this mark is the rule's own in this installation: the rule's id, and this
// installation's identity or none at all (a set from before identities, which stays ours).
bool OwnedBy(const SetMark& mark, int32_t ruleId, std::string_view installation);

}  // namespace kivo
