#include "backup_set_runner.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "backup_manifest.h"
#include "backup_set_name.h"
#include "civil_date.h"
#include "flush_workers.h"
#include "run_text.h"
#include "run_visitor.h"
#include "shared_files.h"
#include "source_file.h"
#include "tree_remover.h"

namespace kivo {
namespace {

// Far beyond the manifest of any real tree (about 80 bytes a file); a larger one is not ours.
constexpr uint64_t kMaxManifestBytes = 1ull << 30;

struct Totals {
    uint64_t copied = 0, linked = 0, bytes = 0, failures = 0;
};

// Puts one file of the source into the new set: a second link to the last set's copy when the source
// is as that set recorded it, else a copy checked for having stayed the same while it was read.
class SetFileWriter {
  public:
    SetFileWriter(RunContext& context, const RunnerOptions& options, std::string_view sourceGbk,
                  const BackupManifest* previous, BackupManifest& manifest, FlushWorkers* flushes,
                  Totals& totals)
        : m_context(context),
          m_options(options),
          m_source(sourceGbk),
          m_previous(previous),
          m_manifest(manifest),
          m_flushes(flushes),
          m_totals(totals) {}

    bool MayLink() const { return m_linking && m_previous; }

    // False only for a fault that ends the run (the backup volume is full). previous is the folder
    // of the last set that corresponds to `to`, closed when there is none.
    bool Write(const fs::Dir& from, const fs::DirEntry& entry, const std::shared_ptr<const fs::Dir>& to,
               const fs::Dir& previous, const fs::NativeString& relative, std::string key) {
        fs::File in;
        fs::Facts now = entry.facts;
        if (!fs::kListingIsCurrent) {
            if (auto why = OpenSourceFile(m_options, from, entry.name, relative, in))
                return Fail(relative, *why);
            if (auto why = SourceFactsBefore(m_options, in, relative, now)) return Fail(relative, *why);
        }
        if (Link(entry.name, now, *to, previous, relative, key)) return true;
        if (!in.IsOpen()) {
            if (auto why = OpenSourceFile(m_options, from, entry.name, relative, in))
                return Fail(relative, *why);
            if (auto why = SourceFactsBefore(m_options, in, relative, now)) return Fail(relative, *why);
        }
        return Copy(in, now, entry.name, to, relative, std::move(key));
    }

  private:
    bool Link(const fs::NativeString& name, const fs::Facts& now, const fs::Dir& to, const fs::Dir& previous,
              const fs::NativeString& relative, const std::string& key) {
        if (!MayLink() || !previous.IsOpen() || now.kind != fs::Kind::File) return false;
        const ManifestEntry* recorded = m_previous->Find(key);
        if (!recorded || !SameAsRecorded(*recorded, now)) return false;
        // The old copy must still look as the backup left it, so that one edited in place inside its
        // set is not carried into this one.
        auto untouched = [&](const fs::Facts& old) { return old.size == now.size && old.mtime == now.mtime; };
        bool linked = false;
        fs::Status s = AtSeam(m_options, RunnerOptions::Seam::Link, relative);
        if (s) s = to.LinkFile(name, previous, name, untouched, linked);
        if (!s) {
            if (!m_refusalLogged) {
                m_context.Log("无法在备份目录中建立硬链接（" + ReasonText(s) + "），改为复制文件");
                m_refusalLogged = true;
            }
            if (s.error == fs::Error::NotSupported) m_linking = false;  // the volume, not this file
            return false;
        }
        if (!linked) return false;
        ++m_totals.linked;
        m_manifest.Add(*recorded);  // a link inherits what the source was and the content's CRC
        return true;
    }

    bool Copy(const fs::File& in, const fs::Facts& before, const fs::NativeString& name,
              const std::shared_ptr<const fs::Dir>& to, const fs::NativeString& relative, std::string key) {
        fs::File out;
        fs::Status created = AtSeam(m_options, RunnerOptions::Seam::CreateCopy, relative);
        if (created) created = to->CreateFile(name, out);
        if (fs::Status s = created; !s) {
            Fail(relative, "无法创建副本：" + ReasonText(s));
            return s.error != fs::Error::DiskFull;
        }
        uint64_t copied = 0;
        uint32_t crc = 0;
        fs::Status s = out.CopyFrom(in, before.size, copied, crc);
        std::string problem;
        if (!s) {
            problem = ReasonText(s);
        } else if (copied < before.size) {
            problem = "文件在备份过程中变短";
        } else if (const char* changed = ChangedWhileRead(in, before)) {
            problem = changed;
        } else if (fs::Status t = out.SetMtime(before.mtime); !t) {
            problem = ReasonText(t);
        }
        if (!problem.empty()) {
            out.Close();
            to->DeleteFile(name);  // an inconsistent copy would pose as the file
            Fail(relative, problem);
            return s.error != fs::Error::DiskFull;
        }
        ++m_totals.copied;
        m_totals.bytes += before.size;
        const size_t index =
            m_manifest.Add({std::move(key), before.size, before.writeTicks, before.changeTicks, crc});
        if (m_flushes) m_flushes->Add({std::move(out), to, name, relative, index});
        return true;
    }

    bool Fail(const fs::NativeString& relative, const std::string& reason) {
        ++m_totals.failures;
        m_context.Log("备份失败：" + LogPath(m_source, relative) + "：" + reason);
        return true;
    }

    RunContext& m_context;
    const RunnerOptions& m_options;
    std::string m_source;
    const BackupManifest* m_previous;
    BackupManifest& m_manifest;
    FlushWorkers* m_flushes;
    Totals& m_totals;
    bool m_linking = true;
    bool m_refusalLogged = false;
};

class CopyVisitor final : public RunVisitor {
  public:
    // top is the name of the source's own folder inside the set; previous that folder in the last set.
    CopyVisitor(RunContext& context, std::string_view sourceGbk, SetFileWriter& writer,
                std::shared_ptr<const fs::Dir> destination, fs::Dir previous, fs::NativeString top,
                Totals& totals)
        : RunVisitor(context, sourceGbk), m_totals(totals), m_writer(writer), m_top(std::move(top)) {
        m_destinations.push_back(std::move(destination));
        m_previous.push_back(std::move(previous));
    }

    bool EnterDirectory(const fs::Dir&, const fs::NativeString& relative,
                        const fs::DirEntry& entry) override {
        auto made = std::make_shared<fs::Dir>();
        fs::Status s = m_destinations.back()->MakeDir(entry.name);
        if (s) s = m_destinations.back()->OpenDir(entry.name, *made);
        if (!s) {
            ++m_totals.failures;
            m_context.Log("备份失败：无法创建目录 " + LogPath(m_root, relative) + " 的副本：" +
                          ReasonText(s));
            m_fatal = s.error == fs::Error::DiskFull;
            return false;
        }
        m_destinations.push_back(std::move(made));
        fs::Dir previous;
        if (m_writer.MayLink() && m_previous.back().IsOpen()) m_previous.back().OpenDir(entry.name, previous);
        m_previous.push_back(std::move(previous));
        return true;
    }
    void LeaveDirectory(const fs::NativeString&) override {
        m_destinations.pop_back();
        m_previous.pop_back();
    }

    void File(const fs::Dir& parent, const fs::DirEntry& entry, const fs::NativeString& relative) override {
        if (!m_writer.Write(parent, entry, m_destinations.back(), m_previous.back(), relative,
                            ManifestPath(JoinNative(m_top, relative)))) {
            m_fatal = true;
        }
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
    SetFileWriter& m_writer;
    const fs::NativeString m_top;
    std::vector<std::shared_ptr<const fs::Dir>> m_destinations;
    std::vector<fs::Dir> m_previous;
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

// The rule's last complete set and what it holds: the set the new one links its unchanged files to.
// Without one, or with a manifest that cannot be trusted, every file is copied.
struct PreviousSet {
    fs::Dir top;
    BackupManifest manifest;
    std::string text;  // the manifest as stored
};

std::optional<PreviousSet> OpenPreviousSet(const fs::Dir& backup, const std::vector<OwnSet>& sets,
                                           std::string_view backupGbk, std::string_view sourceGbk,
                                           RunContext& context) {
    const OwnSet* last = nullptr;
    auto newer = [](const OwnSet& a, const OwnSet& b) {  // "-10" after "-9" within one second
        return std::tuple(a.mark.created, a.name.size(), a.name) >
               std::tuple(b.mark.created, b.name.size(), b.name);
    };
    for (const OwnSet& set : sets) {
        if (!set.kind.temporary && !set.kind.incomplete && (!last || newer(set, *last))) last = &set;
    }
    if (!last) return std::nullopt;
    const std::string where = LogPath(backupGbk, last->name);
    auto copyAll = [&](const std::string& why) {
        context.Log(why + "，本次复制全部文件");
        return std::nullopt;
    };
    PreviousSet previous;
    fs::File file;
    fs::Facts facts;
    fs::Status s = backup.OpenDir(last->name, previous.top);
    if (s) s = previous.top.OpenRead(fs::NativeFromAscii(kSetManifestName), file);
    if (s.error == fs::Error::NotFound) return copyAll("上次的备份 " + where + " 没有文件清单");
    if (s) s = file.GetFacts(facts);
    if (s && facts.size > kMaxManifestBytes) return copyAll("上次的备份 " + where + " 的文件清单已损坏");
    std::string text;
    size_t got = 0;
    if (s) {
        text.resize(size_t(facts.size));
        s = file.ReadAt(0, text.data(), text.size(), got);
    }
    if (!s) return copyAll("无法读取上次的备份 " + where + " 的文件清单（" + ReasonText(s) + "）");
    text.resize(got);
    previous.text = std::move(text);
    switch (BackupManifest::Parse(previous.text, previous.manifest)) {
        case ManifestProblem::None:
            break;
        case ManifestProblem::Newer:
            return copyAll("上次的备份 " + where + " 的文件清单由较新版本的程序写入");
        case ManifestProblem::OtherClock:
            return copyAll("上次的备份 " + where + " 的文件清单不是本系统写入的");
        case ManifestProblem::Damaged:
            return copyAll("上次的备份 " + where + " 的文件清单已损坏");
    }
    if (previous.manifest.Source() != sourceGbk) return copyAll("上次的备份 " + where + " 来自另一个源路径");
    return previous;
}

// The manifest goes in last, made durable with the copies, so that a set named complete always
// has the record of what it holds.
fs::Status WriteManifest(const fs::Dir& set, const BackupManifest& manifest, const PreviousSet* previous) {
    const std::string text = manifest.Text();
    const fs::NativeString name = fs::NativeFromAscii(kSetManifestName);
    // Nothing changed: the last set's manifest says it all, and a link to it costs no space.
    if (previous && previous->text == text) {
        bool linked = false;
        auto same = [&](const fs::Facts& stored) { return stored.size == text.size(); };
        if (set.LinkFile(name, previous->top, name, same, linked) && linked) return {};
    }
    fs::File file;
    fs::Status s = set.CreateFile(name, file);
    if (!s) return s;
    s = file.WriteAt(0, text.data(), text.size());
    if (s) s = file.MakeDurable();
    if (!s) {
        file.Close();
        set.DeleteFile(name);  // a manifest cut short must not be taken for a record
    }
    return s;
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
    if (sourceName == fs::NativeFromAscii(kSetManifestName))
        return Failed("源路径的名称与备份清单文件同名：" + sourceGbk);

    fs::Dir backup;
    if (fs::Status s = fs::Dir::OpenOrCreate(*backupPath, backup); !s) {
        return Failed("无法打开备份目录 " + backupGbk + "：" + ReasonText(s));
    }
    if (sourceIsFolder && sourceDir.Id() == backup.Id()) return Failed("备份目录与源目录相同：" + backupGbk);

    Totals totals;
    uint64_t retentionFailures = 0;
    // A set left by a run that crashed, or a removal that was cut short, never posed as complete; finish it
    // off.
    const std::vector<OwnSet> sets = OwnSets(backup, rule.rule_id);
    for (const OwnSet& set : sets) {
        if (!set.kind.temporary) continue;
        if (fs::Status s = RemoveTree(backup, set.name); s) {
            context.Log("删除上次未完成的备份：" + LogPath(backupGbk, set.name));
        } else {
            ++retentionFailures;
            context.Log("删除上次未完成的备份失败：" + LogPath(backupGbk, set.name) + "：" + ReasonText(s));
        }
    }
    std::optional<PreviousSet> previous = OpenPreviousSet(backup, sets, backupGbk, sourceGbk, context);

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
    auto set = std::make_shared<fs::Dir>();
    std::optional<FlushWorkers> flushes;
    // Every handle inside the set is closed before it is renamed or removed.
    auto discard = [&] {
        if (flushes) flushes->Abandon();
        set.reset();
        previous.reset();
        RemoveTree(backup, tempName);
    };
    fs::Status s = backup.OpenDir(tempName, *set);
    if (s) {
        fs::File mark;
        const std::string text = SetMarkText(rule.rule_id, now);
        s = set->CreateFile(fs::NativeFromAscii(kSetMarkName), mark);
        if (s) s = mark.WriteAt(0, text.data(), text.size());
        if (s) s = mark.MakeDurable();
    }
    if (!s) {
        discard();
        return Failed("无法在 " + backupGbk + " 中创建备份：" + ReasonText(s));
    }

    BackupManifest manifest(sourceGbk);
    if (m_options.flushEachFile || fs::kFlushEachFile)
        flushes.emplace(m_options, std::max(0, m_options.flushWorkers));
    SetFileWriter writer(context, m_options, sourceGbk, previous ? &previous->manifest : nullptr, manifest,
                         flushes ? &*flushes : nullptr, totals);
    bool cancelled = false, fatal = false;
    if (sourceIsFolder) {
        s = set->MakeDir(sourceName);
        auto top = std::make_shared<fs::Dir>();
        if (s) s = set->OpenDir(sourceName, *top);
        if (!s) {
            top.reset();
            discard();
            return Failed("无法在 " + backupGbk + " 中创建备份：" + ReasonText(s));
        }
        fs::Dir previousTop;
        if (previous) previous->top.OpenDir(sourceName, previousTop);
        CopyVisitor visitor(context, sourceGbk, writer, std::move(top), std::move(previousTop), sourceName,
                            totals);
        WalkTree(sourceDir, visitor, {backup.Id(), set->Id()});
        cancelled = visitor.Cancelled();
        fatal = visitor.Fatal();
    } else {
        fs::DirEntry entry{sourceName, {}};
        if (fs::Status f = sourceParent.Stat(sourceName, entry.facts); !f) {
            ++totals.failures;
            context.Log(
                "备份失败：" + sourceGbk + "：" +
                (f.error == fs::Error::NotFound ? std::string("文件在备份过程中消失") : ReasonText(f)));
        } else {
            const fs::Dir none;
            fatal = !writer.Write(sourceParent, entry, set, previous ? previous->top : none,
                                  fs::NativeString(), ManifestPath(sourceName));
        }
    }

    // The copies still being flushed: one whose flush failed is a failed file, never part of the set.
    if (flushes && !cancelled && !fatal) {
        for (const FlushWorkers::Failure& f : flushes->Finish()) {
            ++totals.failures;
            --totals.copied;
            totals.bytes -= manifest.At(f.tag).size;
            manifest.Drop(f.tag);
            context.Log("备份失败：" + LogPath(sourceGbk, f.relative) + "：" + ReasonText(f.status));
            fatal = fatal || f.status.error == fs::Error::DiskFull;
        }
    }
    if (cancelled || fatal) {
        discard();
        std::string summary = fatal ? "备份目录所在的磁盘空间不足，已删除未完成的备份" : "已删除未完成的备份";
        return {cancelled ? RunOutcome::Cancelled : RunOutcome::Failed, summary};
    }
    if (totals.copied + totals.linked == 0 && totals.failures > 0) {
        discard();
        return Failed("没有文件备份成功，失败 " + Decimal(totals.failures) + " 个");
    }
    if (fs::Status m = WriteManifest(*set, manifest, previous ? &*previous : nullptr); !m) {
        // The set itself is whole; only the next run loses what it could have linked.
        context.Log("无法写入文件清单 " +
                    LogPath(LogPath(backupGbk, tempName), fs::NativeFromAscii(kSetManifestName)) + "：" +
                    ReasonText(m) + "，下次备份将复制全部文件");
    }
    previous.reset();
    // Every copy is on disk before the set takes a name that says it is complete.
    s = backup.SyncVolume();
    fs::NativeString finalName = baseName;
    if (totals.failures) finalName += fs::NativeFromAscii("-incomplete");
    set.reset();
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

    std::string summary = "备份到 " + LogPath(backupGbk, finalName) + "，复制文件 " + Decimal(totals.copied) +
                          " 个，共 " + Decimal(totals.bytes) + " 字节，链接文件 " + Decimal(totals.linked) +
                          " 个";
    if (removed) summary += "，删除过期备份 " + Decimal(removed) + " 个";
    const uint64_t failures = totals.failures + retentionFailures;
    if (failures) summary += "，失败 " + Decimal(failures) + " 个";
    return {failures ? RunOutcome::PartiallyFailed : RunOutcome::Succeeded, summary};
}

}  // namespace kivo
