// A backup rule's sets in its backup folder, which other rules, other installations and other runs
// of this one may share: which sets are the rule's own, the locks that keep two runs from harming each
// other's working sets, what earlier runs left behind, and how a set is named complete or removed.
// Names and marks: backup_set_name.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup_manifest.h"
#include "backup_set_name.h"
#include "runner_options.h"

namespace kivo {

struct OwnSet {
    fs::NativeString name;
    SetName kind;
    SetMark mark;
};

// Why a set's manifest cannot be used; status for Unreadable.
enum class ManifestState { Good, Missing, Unreadable, Damaged, Newer, OtherClock };
// Reads the manifest of an open set folder into out.
ManifestState ReadSetManifest(const fs::Dir& set, BackupManifest& out, fs::Status& status);

class SetFolder {
  public:
    SetFolder(const fs::Dir& folder, std::string_view folderGbk, int32_t ruleId, std::string installation,
              RunContext& context, const RunnerOptions& options)
        : m_folder(folder),
          m_gbk(folderGbk),
          m_rule(ruleId),
          m_installation(std::move(installation)),
          m_context(context),
          m_options(options) {}

    const std::string& Installation() const { return m_installation; }
    // The path of a set for a log line.
    std::string PathOf(const fs::NativeString& name) const;

    // The rule's own sets (OwnedBy), by name.
    std::vector<OwnSet> Sets() const;

    // What earlier runs left: a working set that no run holds is either finished (its run wrote
    // kSetDoneName: it gets its final name) or a leftover of a crash or of a removal cut short (removed);
    // a working set's lock file whose set is gone is removed. Logged; the number of failures.
    uint64_t FinishLeftovers(const std::vector<OwnSet>& sets);

    // Takes the lock of a working set; Error::Locked while another run holds it.
    fs::Status Lock(const fs::NativeString& workingName, fs::FileLock& lock) const;

    // Writes kSetDoneName into a working set, durable, naming the complete name it is to get.
    fs::Status MarkDone(const fs::Dir& working, const fs::NativeString& finalName) const;
    // Renames a finished working set to its complete name, trying again for a while when the name is
    // held (an indexer or virus scanner with a handle on the folder), then drops kSetDoneName.
    fs::Status GiveName(const fs::NativeString& workingName, const fs::NativeString& finalName) const;

    // Removes one of the rule's sets: locked, renamed to its working name (so that it no longer
    // looks complete), then emptied with its mark last. busy: another run holds it, nothing was done.
    fs::Status Expire(const OwnSet& set, bool& busy) const;
    // Removes a working set whose lock is held, its mark last.
    fs::Status RemoveWorking(const fs::NativeString& workingName) const;

  private:
    void FinishLeftover(const OwnSet& set, uint64_t& failures);

    const fs::Dir& m_folder;
    const std::string m_gbk;
    const int32_t m_rule;
    const std::string m_installation;
    RunContext& m_context;
    const RunnerOptions& m_options;
};

fs::NativeString WorkingName(const fs::NativeString& name);

}  // namespace kivo
