#include "rule_store.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <set>
#include <system_error>

#include "civil_date.h"
#include "engine_api.h"
#include "rule_validation.h"
#include "shared_files.h"

namespace kivo {
namespace {

static_assert(std::endian::native == std::endian::little, "records are stored as they lie in memory");

constexpr char kMagic[8] = {'K', 'I', 'V', 'O', 'R', 'U', 'L', 'E'};
constexpr uint32_t kHeaderSize = 40;
constexpr uint32_t kTimesSize = 24;
constexpr uint32_t kClearEntry = sizeof(ClearRule) + kTimesSize;
constexpr uint32_t kBackupEntry = sizeof(BackupRule) + kTimesSize;

template <class T>
void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

template <class T>
T Get(std::string_view in, size_t at) {
    T value;
    std::memcpy(&value, in.data() + at, sizeof(T));
    return value;
}

template <class Record>
void PutEntry(std::string& out, const StoredRule<Record>& entry) {
    out.append(reinterpret_cast<const char*>(&entry.rule), sizeof(Record));
    Put(out, entry.times.since);
    Put(out, entry.times.lastAuto);
    Put(out, entry.times.lastRun);
}

template <class Record>
StoredRule<Record> GetEntry(std::string_view in, size_t at) {
    StoredRule<Record> entry;
    std::memcpy(&entry.rule, in.data() + at, sizeof(Record));
    at += sizeof(Record);
    entry.times = {Get<int64_t>(in, at), Get<int64_t>(in, at + 8), Get<int64_t>(in, at + 16)};
    return entry;
}

bool Validate(const ClearRule& r) {
    return ValidateClearRule(r, PathCheck::AnyText) == KIVO_OK;
}
bool Validate(const BackupRule& r) {
    return ValidateBackupRule(r, PathCheck::AnyText) == KIVO_OK;
}

std::string GbkName(const std::filesystem::path& path) {
    return shared::GbkFromPath(path).value_or(shared::GbkFromPath(path.filename()).value_or("?"));
}

std::string UtcStamp(int64_t utc) {
    const CivilDate d = CivilFromDays(FloorDiv(utc, kSecondsPerDay));
    const int64_t s = FloorMod(utc, kSecondsPerDay);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02dZ", d.year, d.month, d.day, int(s / 3600),
                  int(s / 60 % 60), int(s % 60));
    return buf;
}

// Keeps a damaged file under a name no save will touch. Empty path: it could not be kept aside.
std::filesystem::path SetAside(const std::filesystem::path& file, int64_t now) {
    std::error_code ec;
    for (int n = 1; n < 100; ++n) {
        std::string suffix = ".damaged-";
        suffix += UtcStamp(now);
        if (n > 1) suffix.append("-").append(std::to_string(n));
        std::filesystem::path aside = file;
        aside += suffix;
        if (std::filesystem::exists(aside, ec)) continue;
        std::filesystem::rename(file, aside, ec);
        if (!ec) return aside;
        std::filesystem::copy_file(file, aside, ec);
        return ec ? std::filesystem::path() : aside;
    }
    return {};
}

struct FileState {
    bool exists = false;
    std::string bytes;
    DecodeStatus status = DecodeStatus::Damaged;
    RuleSet rules;
};

FileState Read(const std::filesystem::path& file) {
    FileState state;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return state;
    state.exists = true;
    if (shared::ReadWholeFile(file, state.bytes)) state.status = DecodeRuleSet(state.bytes, state.rules);
    return state;
}

}  // namespace

std::string EncodeRuleSet(const RuleSet& rules) {
    std::string out;
    out.reserve(kHeaderSize + rules.clear.size() * kClearEntry + rules.backup.size() * kBackupEntry + 4);
    out.append(kMagic, sizeof kMagic);
    Put<uint32_t>(out, kRuleFileVersion);
    Put<uint32_t>(out, kHeaderSize);
    Put<int32_t>(out, rules.nextId);
    Put<uint32_t>(out, uint32_t(rules.clear.size()));
    Put<uint32_t>(out, uint32_t(rules.backup.size()));
    Put<uint32_t>(out, kClearEntry);
    Put<uint32_t>(out, kBackupEntry);
    Put<uint32_t>(out, 0);
    for (const auto& [id, entry] : rules.clear) PutEntry(out, entry);
    for (const auto& [id, entry] : rules.backup) PutEntry(out, entry);
    Put<uint32_t>(out, shared::Crc32(out));
    return out;
}

DecodeStatus DecodeRuleSet(std::string_view in, RuleSet& out) {
    if (in.size() < kHeaderSize + 4 || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0)
        return DecodeStatus::Damaged;
    const uint32_t version = Get<uint32_t>(in, 8);
    if (version > kRuleFileVersion) return DecodeStatus::Newer;
    const uint32_t clearCount = Get<uint32_t>(in, 20), backupCount = Get<uint32_t>(in, 24);
    if (version != kRuleFileVersion || Get<uint32_t>(in, 12) != kHeaderSize ||
        Get<uint32_t>(in, 28) != kClearEntry || Get<uint32_t>(in, 32) != kBackupEntry ||
        Get<uint32_t>(in, 36) != 0 || clearCount > RuleSet::kMaxRulesPerKind ||
        backupCount > RuleSet::kMaxRulesPerKind)
        return DecodeStatus::Damaged;
    if (in.size() != kHeaderSize + size_t(clearCount) * kClearEntry + size_t(backupCount) * kBackupEntry + 4)
        return DecodeStatus::Damaged;
    if (shared::Crc32(in.substr(0, in.size() - 4)) != Get<uint32_t>(in, in.size() - 4))
        return DecodeStatus::Damaged;

    // A good checksum over bad content is still damage: every record must be one the API would accept.
    RuleSet rules;
    rules.nextId = Get<int32_t>(in, 16);
    if (rules.nextId < 1) return DecodeStatus::Damaged;
    std::set<int32_t> ids;
    auto admit = [&](int32_t id) { return id >= 1 && id < rules.nextId && ids.insert(id).second; };
    size_t at = kHeaderSize;
    for (uint32_t i = 0; i < clearCount; ++i, at += kClearEntry) {
        auto entry = GetEntry<ClearRule>(in, at);
        if (!admit(entry.rule.rule_id) || !Validate(entry.rule)) return DecodeStatus::Damaged;
        rules.clear.emplace(entry.rule.rule_id, entry);
    }
    for (uint32_t i = 0; i < backupCount; ++i, at += kBackupEntry) {
        auto entry = GetEntry<BackupRule>(in, at);
        if (!admit(entry.rule.rule_id) || !Validate(entry.rule)) return DecodeStatus::Damaged;
        rules.backup.emplace(entry.rule.rule_id, entry);
    }
    out = std::move(rules);
    return DecodeStatus::Ok;
}

int32_t SalvageNextId(std::string_view in) {
    if (in.size() < kHeaderSize || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0) return 0;
    return std::max(Get<int32_t>(in, 16), 0);
}

RuleStore::RuleStore(std::filesystem::path folder)
    : m_main(folder / "rules.dat"), m_mirror(folder / "rules.bak") {}

bool RuleStore::Save(const RuleSet& rules) {
    const std::string bytes = EncodeRuleSet(rules);
    if (!shared::AtomicWriteFile(m_main, bytes)) return false;
    // A failed mirror write only leaves an older good copy; the next save or load refreshes it.
    shared::AtomicWriteFile(m_mirror, bytes);
    return true;
}

RuleStore::Loaded RuleStore::Load(int64_t now, bool repair) {
    Loaded result;
    FileState main = Read(m_main);
    if (main.status == DecodeStatus::Ok) {
        result.rules = std::move(main.rules);
        if (repair) {
            std::string mirror;
            if (!shared::ReadWholeFile(m_mirror, mirror) || mirror != main.bytes)
                shared::AtomicWriteFile(m_mirror, main.bytes);
        }
        return result;
    }
    if (main.status == DecodeStatus::Newer) {
        result.refuse = KIVO_E_STORE_NEWER;
        result.logLines.push_back(
            "错误：规则文件 " + GbkName(m_main) +
            " 由更新版本的任务引擎写入，本引擎不能读取也不会改动它，所有更改都将被拒绝");
        return result;
    }

    FileState mirror = Read(m_mirror);
    if (!main.exists && !mirror.exists) return result;  // a fresh data folder

    std::string what;
    if (main.exists) {
        what = "错误：规则文件 " + GbkName(m_main) + " 已损坏";
        if (repair) {
            std::filesystem::path aside = SetAside(m_main, now);
            if (aside.empty()) {
                // Keep the damaged file where it is rather than write over it.
                result.refuse = KIVO_E_STORE_WRITE;
                what += "，且无法另存，为保留它，所有更改都将被拒绝";
            } else {
                what += "，已另存为 " + GbkName(aside);
            }
        }
    } else {
        what = "错误：规则文件 " + GbkName(m_main) + " 丢失";
    }

    if (mirror.status == DecodeStatus::Ok) {
        result.rules = std::move(mirror.rules);
        what += "；已从上次的正确副本恢复 " +
                std::to_string(result.rules.clear.size() + result.rules.backup.size()) + " 条规则";
        if (repair && result.refuse == 0 && !shared::AtomicWriteFile(m_main, mirror.bytes))
            what += "（写回规则文件失败，将在下次保存时重试）";
        result.logLines.push_back(what);
        return result;
    }
    if (mirror.status == DecodeStatus::Newer) {
        result.refuse = KIVO_E_STORE_NEWER;
        result.logLines.push_back(what + "；副本由更新版本的任务引擎写入，所有更改都将被拒绝");
        return result;
    }

    // Nothing good is left: start empty, but keep every damaged copy and never hand out an id the
    // damaged files may still name.
    result.rules.nextId = std::max({1, SalvageNextId(main.bytes), SalvageNextId(mirror.bytes)});
    if (mirror.exists) {
        what += "，副本也已损坏";
        if (repair) {
            std::filesystem::path aside = SetAside(m_mirror, now);
            if (aside.empty()) {
                result.refuse = KIVO_E_STORE_WRITE;
            } else {
                what += "并已另存为 " + GbkName(aside);
            }
        }
    } else {
        what += "，且没有副本";
    }
    what += "；任务引擎从空规则集开始";
    result.logLines.push_back(what);
    return result;
}

}  // namespace kivo
