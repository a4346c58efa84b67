#include "backup_set_folder.h"

#include <algorithm>
#include <thread>

#include "run_text.h"
#include "tree_remover.h"

namespace kivo {
namespace {

// Far beyond the manifest of any real tree (about 80 bytes a file); a larger one is not ours.
constexpr uint64_t kMaxManifestBytes = 1ull << 30;

const fs::NativeString& TmpSuffix() {
    static const fs::NativeString suffix = fs::NativeFromAscii(".tmp");
    return suffix;
}

fs::NativeString LockName(const fs::NativeString& workingName) {
    return workingName + fs::NativeFromAscii(kSetLockSuffix);
}

bool EndsWith(const fs::NativeString& text, const fs::NativeString& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A small file of a set, read whole; nullopt when it is missing, unreadable or too big for one.
std::optional<std::string> ReadSmall(const fs::Dir& folder, std::string_view name) {
    fs::File file;
    if (!folder.OpenRead(fs::NativeFromAscii(name), file)) return std::nullopt;
    char text[256];
    size_t got = 0;
    if (!file.ReadAt(0, text, sizeof text, got) || got == sizeof text) return std::nullopt;
    return std::string(text, got);
}

std::optional<SetMark> ReadMark(const fs::Dir& folder, const fs::NativeString& setName) {
    fs::Dir set;
    if (!folder.OpenDir(setName, set)) return std::nullopt;
    const std::optional<std::string> text = ReadSmall(set, kSetMarkName);
    if (!text) return std::nullopt;
    return ParseSetMark(*text);
}

}  // namespace

fs::NativeString WorkingName(const fs::NativeString& name) {
    return name + TmpSuffix();
}

ManifestState ReadSetManifest(const fs::Dir& set, BackupManifest& out, fs::Status& status) {
    fs::File file;
    fs::Facts facts;
    status = set.OpenRead(fs::NativeFromAscii(kSetManifestName), file);
    if (status.error == fs::Error::NotFound) return ManifestState::Missing;
    if (status) status = file.GetState(facts);
    if (status && facts.size > kMaxManifestBytes) return ManifestState::Damaged;
    std::string text;
    size_t got = 0;
    if (status) {
        text.resize(size_t(facts.size));
        status = file.ReadAt(0, text.data(), text.size(), got);
    }
    if (!status) return ManifestState::Unreadable;
    text.resize(got);
    switch (BackupManifest::Parse(std::move(text), out)) {
        case ManifestProblem::None:
            return ManifestState::Good;
        case ManifestProblem::Newer:
            return ManifestState::Newer;
        case ManifestProblem::OtherClock:
            return ManifestState::OtherClock;
        case ManifestProblem::Damaged:
            break;
    }
    return ManifestState::Damaged;
}

std::string SetFolder::PathOf(const fs::NativeString& name) const {
    return LogPath(m_gbk, name);
}

std::vector<OwnSet> SetFolder::Sets() const {
    std::vector<OwnSet> sets;
    std::vector<fs::DirEntry> entries;
    if (!m_folder.List(entries)) return sets;
    for (const fs::DirEntry& e : entries) {
        if (e.facts.kind != fs::Kind::Directory) continue;
        auto utf8 = fs::Utf8FromNative(e.name);
        if (!utf8) continue;
        auto kind = ParseSetName(*utf8, m_rule);
        if (!kind) continue;
        auto mark = ReadMark(m_folder, e.name);
        if (!mark || !OwnedBy(*mark, m_rule, m_installation)) continue;
        sets.push_back({e.name, *kind, std::move(*mark)});
    }
    std::sort(sets.begin(), sets.end(), [](const OwnSet& a, const OwnSet& b) { return a.name < b.name; });
    return sets;
}

fs::Status SetFolder::Lock(const fs::NativeString& workingName, fs::FileLock& lock) const {
    return m_folder.TryLock(LockName(workingName), lock);
}

fs::Status SetFolder::RemoveWorking(const fs::NativeString& workingName) const {
    const fs::NativeString mark = fs::NativeFromAscii(kSetMarkName);
    RemoveOptions remove;
    remove.last = &mark;
    if (m_options.seam) {
        remove.beforeDelete = [&](const fs::NativeString& relative) {
            return m_options.seam(RunnerOptions::Seam::DeleteFile, relative);
        };
    }
    return RemoveTree(m_folder, workingName, remove);
}

fs::Status SetFolder::MarkDone(const fs::Dir& working, const fs::NativeString& finalName) const {
    const auto text = fs::Utf8FromNative(finalName);
    if (!text) return {fs::Error::NameInvalid, 0};
    fs::File done;
    fs::Status s = working.CreateFile(fs::NativeFromAscii(kSetDoneName), done);
    if (s) s = done.WriteAt(0, text->data(), text->size());
    if (s) s = done.Sync();
    return s;
}

fs::Status SetFolder::GiveName(const fs::NativeString& workingName, const fs::NativeString& finalName) const {
    const auto deadline = std::chrono::steady_clock::now() + m_options.renameRetry;
    fs::Status s;
    for (;;) {
        s = AtSeam(m_options, RunnerOptions::Seam::FinishSet, workingName);
        if (s) s = m_folder.Rename(workingName, m_folder, finalName, false);
        if (s || s.error == fs::Error::Exists || s.error == fs::Error::NotFound ||
            std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!s) return s;
    fs::Dir set;
    if (m_folder.OpenDir(finalName, set)) set.DeleteFile(fs::NativeFromAscii(kSetDoneName));
    return {};
}

fs::Status SetFolder::Expire(const OwnSet& set, bool& busy) const {
    const fs::NativeString working = WorkingName(set.name);
    fs::FileLock lock;
    fs::Status locked = Lock(working, lock);
    busy = locked.error == fs::Error::Locked;
    if (!locked) return locked;
    // A leftover of an earlier finish: it must not make the set look finished once it is a working set.
    fs::Dir folder;
    fs::Status s = m_folder.OpenDir(set.name, folder);
    if (s) {
        s = folder.DeleteFile(fs::NativeFromAscii(kSetDoneName));
        if (s.error == fs::Error::NotFound) s = {};
    }
    folder = fs::Dir();
    if (s) s = m_folder.Rename(set.name, m_folder, working, false);
    if (s) s = RemoveWorking(working);
    return s;
}

uint64_t SetFolder::FinishLeftovers(const std::vector<OwnSet>& sets) {
    uint64_t failures = 0;
    for (const OwnSet& set : sets) {
        if (set.kind.temporary) FinishLeftover(set, failures);
    }
    // Lock files whose working set is gone: a run that ended between removing its set and its lock.
    std::vector<fs::DirEntry> entries;
    if (!m_folder.List(entries)) return failures;
    const fs::NativeString lockTail = TmpSuffix() + fs::NativeFromAscii(kSetLockSuffix);
    for (const fs::DirEntry& e : entries) {
        if (e.facts.kind != fs::Kind::File || !EndsWith(e.name, lockTail)) continue;
        const fs::NativeString working =
            e.name.substr(0, e.name.size() - lockTail.size() + TmpSuffix().size());
        auto utf8 = fs::Utf8FromNative(working);
        fs::Facts facts;
        if (!utf8 || !ParseSetName(*utf8, m_rule) ||
            m_folder.Stat(working, facts).error != fs::Error::NotFound)
            continue;
        fs::FileLock lock;
        if (Lock(working, lock)) lock.Release();
    }
    return failures;
}

void SetFolder::FinishLeftover(const OwnSet& set, uint64_t& failures) {
    fs::FileLock lock;
    if (fs::Status s = Lock(set.name, lock); !s) {
        if (s.error == fs::Error::Locked) return;  // its run is still at it
        ++failures;
        m_context.Log("无法检查上次未完成的备份 " + PathOf(set.name) + "：" + ReasonText(s));
        return;
    }
    fs::Dir working;
    if (fs::Status s = m_folder.OpenDir(set.name, working); !s) {
        if (s.error == fs::Error::NotFound) return;  // its run finished it meanwhile
        ++failures;
        m_context.Log("无法检查上次未完成的备份 " + PathOf(set.name) + "：" + ReasonText(s));
        return;
    }
    const std::optional<std::string> done = ReadSmall(working, kSetDoneName);
    working = fs::Dir();
    if (!done) {
        if (fs::Status s = RemoveWorking(set.name); s) {
            m_context.Log("删除上次未完成的备份：" + PathOf(set.name));
        } else if (s.error != fs::Error::NotFound) {
            ++failures;
            m_context.Log("删除上次未完成的备份失败：" + PathOf(set.name) + "：" + ReasonText(s));
        }
        return;
    }
    // Its run finished it and could not name it. The name it recorded, if that is one of this set's
    // own; else the set is kept under a name that claims no more than the files it holds.
    const fs::NativeString base = set.name.substr(0, set.name.size() - TmpSuffix().size());
    const fs::NativeString incomplete = base + fs::NativeFromAscii("-incomplete");
    fs::NativeString finalName = incomplete;
    if (auto named = fs::NativeFromUtf8(*done); named && (*named == base || *named == incomplete))
        finalName = *named;
    if (fs::Status s = GiveName(set.name, finalName); s) {
        m_context.Log("完成上次备份的改名：" + PathOf(finalName));
    } else {
        ++failures;
        m_context.Log("备份 " + PathOf(set.name) + " 已完成，但仍无法改名为 " + LogPath("", finalName) +
                      "：" + ReasonText(s) + "，下次运行时再试");
    }
}

}  // namespace kivo
