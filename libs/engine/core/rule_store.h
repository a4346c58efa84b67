// The rule set and its file in the data folder.
//
// File "rules.dat" (all integers little-endian), mirrored after every save to "rules.bak":
//   0  char[8] "KIVORULE"        8  u32 version (1)         12 u32 header size (40)
//   16 i32 next rule id          20 u32 clean-rule count     24 u32 backup-rule count
//   28 u32 clean entry size (464) 32 u32 backup entry size (588) 36 u32 reserved (0)
//   40 the clean entries, then the backup entries, each: the record (440 / 564 bytes, as in
//      rule_records.h) followed by three i64: schedule-in-effect-since, last automatic run, last run
//   end-4 u32 CRC-32 of every byte before it
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "rule_records.h"

namespace kivo {

// Instants (seconds since 1970 UTC, 0 = never) the scheduler keeps per rule.
struct RuleTimes {
    int64_t since = 0;     // the current schedule took effect (added, schedule changed, enabled)
    int64_t lastAuto = 0;  // the last automatic run started, or its occurrence was skipped
    int64_t lastRun = 0;   // the last run of any kind started
    bool operator==(const RuleTimes&) const = default;
};

template <class Record>
struct StoredRule {
    Record rule{};
    RuleTimes times;
};

struct RuleSet {
    static constexpr size_t kMaxRulesPerKind = 10000;

    int32_t nextId = 1;  // ids are handed out in increasing order and never reused
    std::map<int32_t, StoredRule<ClearRule>> clear;
    std::map<int32_t, StoredRule<BackupRule>> backup;
};

constexpr uint32_t kRuleFileVersion = 1;

std::string EncodeRuleSet(const RuleSet& rules);
enum class DecodeStatus { Ok, Damaged, Newer };
DecodeStatus DecodeRuleSet(std::string_view bytes, RuleSet& out);
// The next id a damaged file's header still names, 0 when even that is unreadable.
int32_t SalvageNextId(std::string_view bytes);

class RuleStore {
  public:
    explicit RuleStore(std::filesystem::path folder);

    struct Loaded {
        RuleSet rules;
        std::vector<std::string> logLines;  // GBK run-log lines about recovery
        int refuse = 0;                     // non-zero: the code that every change must be refused with
    };
    // Reads the rule set. With `repair` (the caller holds the folder lock) a damaged file is set
    // aside as "<name>.damaged-<UTC time>" and the main file rewritten from the last good copy.
    Loaded Load(int64_t nowUtc, bool repair);

    // Replaces the main file atomically, then refreshes the mirror. False: the main file still holds
    // the previous set.
    bool Save(const RuleSet& rules);

    const std::filesystem::path& MainFile() const { return m_main; }
    const std::filesystem::path& MirrorFile() const { return m_mirror; }

  private:
    std::filesystem::path m_main;
    std::filesystem::path m_mirror;
};

}  // namespace kivo
