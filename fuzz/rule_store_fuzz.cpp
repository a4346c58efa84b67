// The rule file's reader fed arbitrary bytes, and the store's start-up fed an arbitrary main file
// and mirror. Half of the inputs get a correct checksum, so the checks behind it are reached too.
// Properties:
// - a file the reader accepts encodes to a file that reads back as the same rules;
// - a refused file leaves the caller's rule set as it was;
// - start-up never loses a file it could not read: it stays, as itself or set aside;
// - the rules it starts from are the main file's when that is good, else the mirror's, else none,
//   and saving them and starting again gives the same rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine_api.h"
#include "fuzz_support.h"
#include "rule_store.h"
#include "shared_files.h"

namespace {

using namespace kivo;

// The file's last four bytes made the CRC-32 of the rest, as a save writes it.
std::string WithChecksum(std::string bytes) {
    if (bytes.size() < 4) return bytes;
    const uint32_t crc = shared::Crc32(std::string_view(bytes).substr(0, bytes.size() - 4));
    std::memcpy(bytes.data() + bytes.size() - 4, &crc, 4);
    return bytes;
}

template <class Record>
bool SameRules(const std::map<int32_t, StoredRule<Record>>& a,
               const std::map<int32_t, StoredRule<Record>>& b) {
    if (a.size() != b.size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        if (i->first != j->first || i->second.times != j->second.times ||
            std::memcmp(&i->second.rule, &j->second.rule, sizeof(Record)) != 0)
            return false;
    }
    return true;
}
bool SameRules(const RuleSet& a, const RuleSet& b) {
    return SameRules(a.clear, b.clear) && SameRules(a.backup, b.backup);
}

// A rule set the decoder must leave alone when it refuses a file.
RuleSet Sentinel() {
    RuleSet set;
    set.nextId = 77;
    StoredRule<ClearRule> entry;
    entry.rule.rule_id = 5;
    entry.times = {1, 2, 3};
    set.clear[5] = entry;
    return set;
}

void CheckDecode(const std::string& bytes) {
    RuleSet set = Sentinel();
    const DecodeStatus status = DecodeRuleSet(bytes, set);
    if (status != DecodeStatus::Ok) {
        const RuleSet untouched = Sentinel();
        FUZZ_CHECK(set.nextId == untouched.nextId && SameRules(set, untouched));
        return;
    }
    // Ids are unique across both kinds and below the next id to hand out.
    FUZZ_CHECK(set.nextId >= 1);
    for (const auto& [id, entry] : set.clear) {
        FUZZ_CHECK(id >= 1 && id < set.nextId && entry.rule.rule_id == id && !set.backup.count(id));
    }
    for (const auto& [id, entry] : set.backup)
        FUZZ_CHECK(id >= 1 && id < set.nextId && entry.rule.rule_id == id);

    const std::string encoded = EncodeRuleSet(set);
    FUZZ_CHECK(encoded.size() == bytes.size());
    FUZZ_CHECK(encoded.compare(0, 40, bytes, 0, 40) == 0);  // the same header
    RuleSet again;
    FUZZ_CHECK(DecodeRuleSet(encoded, again) == DecodeStatus::Ok);
    FUZZ_CHECK(again.nextId == set.nextId && SameRules(again, set));
    FUZZ_CHECK(EncodeRuleSet(again) == encoded);
}

// Every file in the folder, by content.
std::vector<std::string> FolderContents(const std::filesystem::path& folder) {
    std::vector<std::string> contents;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        contents.push_back(fuzz::ReadFile(entry.path()));
    }
    return contents;
}
bool Holds(const std::vector<std::string>& contents, const std::string& bytes) {
    for (const std::string& c : contents) {
        if (c == bytes) return true;
    }
    return false;
}

bool HasFailureWord(const std::string& line) {
    return line.find("错误") != std::string::npos || line.find("失败") != std::string::npos;
}

void CheckLoad(FuzzedDataProvider& in) {
    const std::filesystem::path folder = fuzz::ScratchFolder();
    RuleStore store(folder);
    struct File {
        bool present = false;
        std::string bytes;
        DecodeStatus status = DecodeStatus::Damaged;
        RuleSet rules;
    } main, mirror;
    main.present = in.ConsumeIntegralInRange(0, 7) != 0;
    mirror.present = in.ConsumeIntegralInRange(0, 7) != 0;
    const bool fixMain = in.ConsumeBool(), fixMirror = in.ConsumeBool();
    main.bytes = in.ConsumeRandomLengthString(8192);
    mirror.bytes = in.ConsumeRemainingBytesAsString();
    if (fixMain) main.bytes = WithChecksum(main.bytes);
    if (fixMirror) mirror.bytes = WithChecksum(mirror.bytes);
    for (auto [file, path] : {std::pair{&main, store.MainFile()}, std::pair{&mirror, store.MirrorFile()}}) {
        if (!file->present) continue;
        fuzz::WriteFile(path, file->bytes);
        file->status = DecodeRuleSet(file->bytes, file->rules);
    }

    const RuleStore::Loaded loaded = store.Load(1'700'000'000, true);

    // Nothing it could not read is lost. (Behind a good main file the mirror is only a copy, and is
    // rewritten from it.)
    const std::vector<std::string> contents = FolderContents(folder);
    const bool mainGood = main.present && main.status == DecodeStatus::Ok;
    if (main.present && !mainGood) FUZZ_CHECK(Holds(contents, main.bytes));
    if (mirror.present && mirror.status != DecodeStatus::Ok && !mainGood)
        FUZZ_CHECK(Holds(contents, mirror.bytes));
    bool exists = false;
    if (mainGood) {
        FUZZ_CHECK(loaded.refuse == 0 && loaded.logLines.empty());
        FUZZ_CHECK(SameRules(loaded.rules, main.rules) && loaded.rules.nextId == main.rules.nextId);
        FUZZ_CHECK(fuzz::ReadFile(store.MirrorFile(), &exists) == main.bytes && exists);
    } else if (main.present && main.status == DecodeStatus::Newer) {
        FUZZ_CHECK(loaded.refuse == KIVO_E_STORE_NEWER && loaded.logLines.size() == 1);
        FUZZ_CHECK(fuzz::ReadFile(store.MainFile(), &exists) == main.bytes && exists);
    } else if (!main.present && !mirror.present) {
        FUZZ_CHECK(loaded.refuse == 0 && loaded.logLines.empty() && loaded.rules.clear.empty() &&
                   loaded.rules.backup.empty());
    } else {
        // Recovery is always said, as a failure line.
        FUZZ_CHECK(loaded.logLines.size() == 1 && HasFailureWord(loaded.logLines[0]));
        if (mirror.present && mirror.status == DecodeStatus::Ok) {
            FUZZ_CHECK(SameRules(loaded.rules, mirror.rules) && loaded.rules.nextId == mirror.rules.nextId);
            if (loaded.refuse == 0) FUZZ_CHECK(fuzz::ReadFile(store.MainFile()) == mirror.bytes);
        } else if (mirror.present && mirror.status == DecodeStatus::Newer) {
            FUZZ_CHECK(loaded.refuse == KIVO_E_STORE_NEWER);
        } else {
            FUZZ_CHECK(loaded.rules.clear.empty() && loaded.rules.backup.empty());
        }
    }
    if (loaded.refuse != 0) return;

    // What it starts from survives a save and a restart.
    FUZZ_CHECK(store.Save(loaded.rules));
    const RuleStore::Loaded again = RuleStore(folder).Load(1'700'000'100, true);
    FUZZ_CHECK(again.refuse == 0 && again.logLines.empty());
    FUZZ_CHECK(SameRules(again.rules, loaded.rules) && again.rules.nextId == loaded.rules.nextId);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        const bool fix = in.ConsumeBool();
        std::string bytes = in.ConsumeRemainingBytesAsString();
        CheckDecode(fix ? WithChecksum(std::move(bytes)) : bytes);
    } else {
        fuzz::EmptyScratchFolder();
        CheckLoad(in);
    }
    return 0;
}
