// The identity of the installation that owns a data folder: 128 random bits, made once and kept in
// the folder as "installation.id", mirrored to "installation.bak". Every backup set carries it in its
// mark, so that two installations sharing one backup folder (two users, two PCs, one share) never
// expire, remove or link from each other's sets. Made only by the engine that holds the folder.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kivo {

struct InstallationIdentity {
    std::string id;                     // 32 lowercase hex digits; empty when none could be kept
    std::vector<std::string> logLines;  // GBK, for the run log: a damaged or unwritable file
};

// The folder's identity: the file's, else the mirror's (which then restores the file), else a new one
// from `random` (kept in both). A damaged file is kept as "installation.id.damaged" before it is
// replaced. An identity that cannot be kept is not used: a run must not mark sets with an identity
// that the next start would not know.
InstallationIdentity LoadInstallationId(const std::filesystem::path& folder,
                                        const std::function<bool(void*, size_t)>& random);

// Whether the text is an identity as LoadInstallationId makes it.
bool IsInstallationId(std::string_view text);

}  // namespace kivo
