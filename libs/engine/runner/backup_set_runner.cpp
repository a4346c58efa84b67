#include "backup_set_runner.h"

#include <algorithm>
#include <vector>

#include "backup_set_name.h"
#include "civil_date.h"
#include "run_text.h"
#include "run_visitor.h"
#include "shared_files.h"
#include "source_file.h"
#include "tree_remover.h"

namespace kivo {
namespace {

struct Totals {
    uint64_t files = 0, bytes = 0, failures = 0;
};

// Copies one file and checks that it stayed the same while it was read.
class FileCopier {
  public:
    FileCopier(RunContext& context, const RunnerOptions& options, std::string_view sourceGbk, Totals& totals)
        : m_context(context), m_options(options), m_source(sourceGbk), m_totals(totals) {}

    // False only for a fault that ends the run (the backup volume is full).
    bool Copy(const fs::Dir& from, const fs::NativeString& name, const fs::Dir& to,
              const fs::NativeString& relative) {
        fs::File in;
        if (auto why = OpenSourceFile(m_options, from, name, relative, in)) return Fail(relative, *why);
        fs::Facts before;
        if (auto why = SourceFactsBefore(m_options, in, relative, before)) return Fail(relative, *why);
        fs::File out;
        fs::Status created = AtSeam(m_options, RunnerOptions::Seam::CreateCopy, relative);
        if (created) created = to.CreateFile(name, out);
        if (fs::Status s = created; !s) {
            Fail(relative, "无法创建副本：" + ReasonText(s));
            return s.error != fs::Error::DiskFull;
        }
        uint64_t copied = 0;
        fs::Status s = out.CopyFrom(in, before.size, copied);
        std::string problem;
        if (!s) {
            problem = ReasonText(s);
        } else if (copied < before.size) {
            problem = "文件在备份过程中变短";
        } else if (const char* changed = ChangedWhileRead(in, before)) {
            problem = changed;
        } else if (fs::Status t = out.SetMtime(before.mtime); !t) {
            problem = ReasonText(t);
        } else if (fs::Status d = out.MakeDurable(); !d) {
            problem = ReasonText(d);
            s = d;
        }
        if (!problem.empty()) {
            out.Close();
            to.DeleteFile(name);  // an inconsistent copy would pose as the file
            Fail(relative, problem);
            return s.error != fs::Error::DiskFull;
        }
        ++m_totals.files;
        m_totals.bytes += before.size;
        return true;
    }

  private:
    bool Fail(const fs::NativeString& relative, const std::string& reason) {
        ++m_totals.failures;
        m_context.Log("备份失败：" + LogPath(m_source, relative) + "：" + reason);
        return true;
    }

    RunContext& m_context;
    const RunnerOptions& m_options;
    std::string m_source;
    Totals& m_totals;
};

class CopyVisitor final : public RunVisitor {
  public:
    CopyVisitor(RunContext& context, const RunnerOptions& options, std::string_view sourceGbk,
                fs::Dir destination, Totals& totals)
        : RunVisitor(context, sourceGbk), m_totals(totals), m_copier(context, options, sourceGbk, totals) {
        m_destinations.push_back(std::move(destination));
    }

    bool EnterDirectory(const fs::Dir&, const fs::NativeString& relative,
                        const fs::DirEntry& entry) override {
        fs::Dir made;
        fs::Status s = m_destinations.back().MakeDir(entry.name);
        if (s) s = m_destinations.back().OpenDir(entry.name, made);
        if (!s) {
            ++m_totals.failures;
            m_context.Log("备份失败：无法创建目录 " + LogPath(m_root, relative) + " 的副本：" +
                          ReasonText(s));
            m_fatal = s.error == fs::Error::DiskFull;
            return false;
        }
        m_destinations.push_back(std::move(made));
        return true;
    }
    void LeaveDirectory(const fs::NativeString&) override { m_destinations.pop_back(); }

    void File(const fs::Dir& parent, const fs::DirEntry& entry, const fs::NativeString& relative) override {
        if (!m_copier.Copy(parent, entry.name, m_destinations.back(), relative)) m_fatal = true;
    }
    void Guarded(const fs::NativeString& relative) override {
        m_context.Log("跳过备份目录本身：" + LogPath(m_root, relative));
    }
    void Failure(const fs::NativeString& relative, const fs::Status& status) override {
        ++m_totals.failures;
        LogUnreadableFolder("备份", relative, status);
    }
    void TooDeep(const fs::NativeString& relative) override {
        ++m_totals.failures;
        LogTooDeep("备份", "未备份", relative);
    }
    bool Stop() override { return CheckCancelled() || m_fatal; }

    bool Fatal() const { return m_fatal; }

  private:
    Totals& m_totals;
    FileCopier m_copier;
    std::vector<fs::Dir> m_destinations;
    bool m_fatal = false;
};

std::optional<SetMark> ReadMark(const fs::Dir& folder, const fs::NativeString& setName) {
    fs::Dir set;
    fs::File mark;
    if (!folder.OpenDir(setName, set) || !set.OpenRead(fs::NativeFromAscii(kSetMarkName), mark))
        return std::nullopt;
    char text[256];
    size_t got = 0;
    if (!mark.ReadAt(0, text, sizeof text, got) || got == sizeof text) return std::nullopt;
    return ParseSetMark(std::string_view(text, got));
}

// The rule's own sets in the backup folder, by name and by mark.
struct OwnSet {
    fs::NativeString name;
    SetName kind;
    SetMark mark;
};
std::vector<OwnSet> OwnSets(const fs::Dir& folder, int32_t ruleId) {
    std::vector<OwnSet> sets;
    std::vector<fs::DirEntry> entries;
    if (!folder.List(entries)) return sets;
    for (const fs::DirEntry& e : entries) {
        if (e.facts.kind != fs::Kind::Directory) continue;
        auto utf8 = fs::Utf8FromNative(e.name);
        if (!utf8) continue;
        auto kind = ParseSetName(*utf8, ruleId);
        if (!kind) continue;
        auto mark = ReadMark(folder, e.name);
        if (!mark || mark->ruleId != ruleId) continue;
        sets.push_back({e.name, *kind, *mark});
    }
    std::sort(sets.begin(), sets.end(), [](const OwnSet& a, const OwnSet& b) { return a.name < b.name; });
    return sets;
}

RunReport Failed(std::string summary) {
    return {RunOutcome::Failed, std::move(summary)};
}

}  // namespace

RunReport BackupSetRunner::Run(const BackupRule& rule, RunContext& context) {
    if (!FieldTerminated(rule.source_path) || !FieldTerminated(rule.backup_path) ||
        FieldText(rule.source_path).empty() || FieldText(rule.backup_path).empty()) {
        return Failed("源路径或备份目录为空或未结束");
    }
    const std::string sourceGbk(FieldText(rule.source_path)), backupGbk(FieldText(rule.backup_path));
    auto sourcePath = shared::PathFromGbk(sourceGbk);
    auto backupPath = shared::PathFromGbk(backupGbk);
    if (sourcePath && !sourcePath->has_filename() && sourcePath->has_relative_path()) {
        *sourcePath = sourcePath->parent_path();  // "D:\docs\" names the folder docs
    }
    if (!sourcePath || !sourcePath->is_absolute()) return Failed("源路径不是有效的完整路径：" + sourceGbk);
    if (!backupPath || !backupPath->is_absolute()) return Failed("备份目录不是有效的完整路径：" + backupGbk);
    const int64_t now = context.NowUtc();
    const fs::CivilTime local = m_options.localTime(now);

    // The source: a folder, or one file opened through its folder.
    fs::Dir sourceDir, sourceParent;
    fs::NativeString sourceName = sourcePath->filename().native();
    bool sourceIsFolder = true;
    if (fs::Status s = fs::Dir::Open(*sourcePath, sourceDir); !s) {
        if (s.error != fs::Error::NotDirectory)
            return Failed("无法打开源路径 " + sourceGbk + "：" + ReasonText(s));
        sourceIsFolder = false;
        if (fs::Status p = fs::Dir::Open(sourcePath->parent_path(), sourceParent); !p) {
            return Failed("无法打开源路径 " + sourceGbk + "：" + ReasonText(p));
        }
    }
    if (sourceName.empty()) sourceName = fs::NativeFromAscii("root");  // a drive's or the file system's root
    if (sourceName == fs::NativeFromAscii(kSetMarkName))
        return Failed("源路径的名称与备份标记文件同名：" + sourceGbk);

    fs::Dir backup;
    if (fs::Status s = fs::Dir::OpenOrCreate(*backupPath, backup); !s) {
        return Failed("无法打开备份目录 " + backupGbk + "：" + ReasonText(s));
    }
    if (sourceIsFolder && sourceDir.Id() == backup.Id()) return Failed("备份目录与源目录相同：" + backupGbk);

    Totals totals;
    uint64_t retentionFailures = 0;
    // A set left by a run that crashed, or a removal that was cut short, never posed as complete; finish it
    // off.
    for (const OwnSet& set : OwnSets(backup, rule.rule_id)) {
        if (!set.kind.temporary) continue;
        if (fs::Status s = RemoveTree(backup, set.name); s) {
            context.Log("删除上次未完成的备份：" + LogPath(backupGbk, set.name));
        } else {
            ++retentionFailures;
            context.Log("删除上次未完成的备份失败：" + LogPath(backupGbk, set.name) + "：" + ReasonText(s));
        }
    }

    // Make the set under its temporary name, with the mark first so that even a crash leaves it ours.
    fs::NativeString baseName, tempName;
    fs::Status made{fs::Error::Exists, 0};
    for (int sequence = 1; sequence <= 99 && made.error == fs::Error::Exists; ++sequence) {
        baseName = fs::NativeFromAscii(SetBaseName(rule.rule_id, local, sequence));
        fs::Facts facts;
        if (backup.Stat(baseName, facts) || backup.Stat(baseName + fs::NativeFromAscii("-incomplete"), facts))
            continue;
        tempName = baseName + fs::NativeFromAscii(".tmp");
        made = backup.MakeDir(tempName);
    }
    if (!made) return Failed("无法在 " + backupGbk + " 中创建备份：" + ReasonText(made));
    fs::Dir set;
    fs::Status s = backup.OpenDir(tempName, set);
    if (s) {
        fs::File mark;
        const std::string text = SetMarkText(rule.rule_id, now);
        s = set.CreateFile(fs::NativeFromAscii(kSetMarkName), mark);
        if (s) s = mark.WriteAt(0, text.data(), text.size());
        if (s) s = mark.MakeDurable();
    }
    if (!s) {
        set = fs::Dir();
        RemoveTree(backup, tempName);
        return Failed("无法在 " + backupGbk + " 中创建备份：" + ReasonText(s));
    }

    bool cancelled = false, fatal = false;
    if (sourceIsFolder) {
        s = set.MakeDir(sourceName);
        fs::Dir top;
        if (s) s = set.OpenDir(sourceName, top);
        if (!s) {
            top = fs::Dir();
            set = fs::Dir();
            RemoveTree(backup, tempName);
            return Failed("无法在 " + backupGbk + " 中创建备份：" + ReasonText(s));
        }
        CopyVisitor visitor(context, m_options, sourceGbk, std::move(top), totals);
        WalkTree(sourceDir, visitor, {backup.Id(), set.Id()});
        cancelled = visitor.Cancelled();
        fatal = visitor.Fatal();
    } else {
        FileCopier copier(context, m_options, sourceGbk, totals);
        fatal = !copier.Copy(sourceParent, sourceName, set, fs::NativeString());
    }

    if (cancelled || fatal) {
        set = fs::Dir();
        RemoveTree(backup, tempName);
        std::string summary = fatal ? "备份目录所在的磁盘空间不足，已删除未完成的备份" : "已删除未完成的备份";
        return {cancelled ? RunOutcome::Cancelled : RunOutcome::Failed, summary};
    }
    if (totals.files == 0 && totals.failures > 0) {
        set = fs::Dir();
        RemoveTree(backup, tempName);
        return Failed("没有文件备份成功，失败 " + Decimal(totals.failures) + " 个");
    }
    // Every copy is on disk before the set takes a name that says it is complete.
    s = backup.SyncVolume();
    fs::NativeString finalName = baseName;
    if (totals.failures) finalName += fs::NativeFromAscii("-incomplete");
    set = fs::Dir();
    if (s) s = backup.Rename(tempName, backup, finalName, false);
    if (!s) {
        RemoveTree(backup, tempName);
        return Failed("无法完成备份 " + LogPath(backupGbk, finalName) + "：" + ReasonText(s));
    }

    uint64_t removed = 0;
    if (rule.keep_days > 0 && totals.failures == 0) {
        const int64_t cutoff = now - int64_t(rule.keep_days) * kSecondsPerDay;
        for (const OwnSet& old : OwnSets(backup, rule.rule_id)) {
            if (old.kind.temporary || old.name == finalName || old.mark.created > cutoff) continue;
            // Renamed first, so that a removal cut short leaves a set that no longer looks complete.
            const fs::NativeString doomed = old.name + fs::NativeFromAscii(".tmp");
            fs::Status r = backup.Rename(old.name, backup, doomed, false);
            if (r) r = RemoveTree(backup, doomed);
            if (r) {
                ++removed;
                context.Log("删除过期备份：" + LogPath(backupGbk, old.name));
            } else {
                ++retentionFailures;
                context.Log("删除过期备份失败：" + LogPath(backupGbk, old.name) + "：" + ReasonText(r));
            }
        }
    } else if (rule.keep_days > 0) {
        context.Log("本次备份不完整，保留所有旧备份");
    }

    std::string summary = "备份到 " + LogPath(backupGbk, finalName) + "，文件 " + Decimal(totals.files) +
                          " 个，共 " + Decimal(totals.bytes) + " 字节";
    if (removed) summary += "，删除过期备份 " + Decimal(removed) + " 个";
    const uint64_t failures = totals.failures + retentionFailures;
    if (failures) summary += "，失败 " + Decimal(failures) + " 个";
    return {failures ? RunOutcome::PartiallyFailed : RunOutcome::Succeeded, summary};
}

}  // namespace kivo
