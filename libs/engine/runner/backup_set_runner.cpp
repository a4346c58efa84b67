#include "backup_set_runner.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

#include "backup_manifest.h"
#include "backup_set_folder.h"
#include "civil_date.h"
#include "flush_workers.h"
#include "run_text.h"
#include "run_visitor.h"
#include "set_retention.h"
#include "shared_files.h"
#include "source_file.h"

namespace kivo {
namespace {

struct Totals {
    uint64_t copied = 0, linked = 0, bytes = 0, failures = 0;
};

// Where a copy of the last set may be found in every other set of the rule, to name the sets that share
// it when it was edited in place.
struct SetsOfRule {
    const SetFolder& folder;
    const fs::Dir& backup;
    const std::vector<OwnSet>& sets;
    fs::NativeString previous;  // the last complete set's name
    fs::NativeString top;       // the source's folder inside a set; empty for a single file
};

// The facts of the file at top/relative inside a set, reached folder by folder without following links.
fs::Status StatInSet(const fs::Dir& backup, const fs::NativeString& set, const fs::NativeString& top,
                     const fs::NativeString& relative, fs::Facts& out) {
    std::vector<fs::NativeString> parts;
    if (!top.empty()) parts.push_back(top);
    const auto separator = std::filesystem::path::preferred_separator;
    for (size_t start = 0; start <= relative.size();) {
        const size_t end = std::min(relative.find(separator, start), relative.size());
        if (end > start) parts.push_back(relative.substr(start, end - start));
        start = end + 1;
    }
    fs::Dir at;
    fs::Status s = backup.OpenDir(set, at);
    for (size_t i = 0; s && i + 1 < parts.size(); ++i) {
        fs::Dir next;
        s = at.OpenDir(parts[i], next);
        at = std::move(next);
    }
    if (s) s = parts.empty() ? fs::Status{fs::Error::NotFound, 0} : at.Stat(parts.back(), out);
    return s;
}

// Puts one file of the source into the new set: a second link to the last set's copy when the source
// is as that set recorded it, else a copy checked for having stayed the same while it was read.
class SetFileWriter {
  public:
    SetFileWriter(RunContext& context, const RunnerOptions& options, std::string_view sourceGbk,
                  const BackupManifest* previous, const SetsOfRule& rule, BackupManifest& manifest,
                  FlushWorkers* flushes, Totals& totals, int64_t granularity)
        : m_context(context),
          m_options(options),
          m_source(sourceGbk),
          m_previous(previous),
          m_rule(rule),
          m_manifest(manifest),
          m_flushes(flushes),
          m_totals(totals),
          m_granularity(granularity) {}

    bool MayLink() const { return m_linking && m_previous; }

    // False only for a fault that ends the run (the backup volume is full). previous is the folder
    // of the last set that corresponds to `to`, closed when there is none.
    bool Write(const fs::Dir& from, const fs::DirEntry& entry, const std::shared_ptr<const fs::Dir>& to,
               const fs::Dir& previous, const fs::NativeString& relative, std::string key) {
        fs::File in;
        fs::Facts now = entry.facts;
        int64_t seen = 0;  // the file system's clock just before the facts were taken
        auto open = [&]() -> std::optional<std::string> {
            if (auto why = OpenSourceFile(m_options, from, entry.name, relative, in)) return why;
            seen = fs::ClockTicksNow();
            return SourceFactsBefore(m_options, in, relative, now);
        };
        if (!fs::kListingIsCurrent) {
            if (auto why = open()) return Fail(relative, *why);
        }
        if (Link(entry.name, now, *to, previous, relative, key)) return true;
        if (!in.IsOpen()) {
            if (auto why = open()) return Fail(relative, *why);
        }
        return Copy(in, now, seen, entry.name, to, relative, std::move(key));
    }

  private:
    bool Link(const fs::NativeString& name, const fs::Facts& now, const fs::Dir& to, const fs::Dir& previous,
              const fs::NativeString& relative, const std::string& key) {
        if (!MayLink() || !previous.IsOpen() || now.kind != fs::Kind::File) return false;
        const std::optional<ManifestEntry> recorded = m_previous->Find(key);
        if (!recorded || !SameAsRecorded(*recorded, now)) return false;
        // The old copy must still look as the backup left it, so that one edited in place inside its
        // set is not carried into this one.
        bool edited = false;
        auto untouched = [&](const fs::Facts& old) {
            edited = old.size != now.size || old.mtime != now.mtime;
            return !edited;
        };
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
        if (edited) ReportEdited(previous, name, relative);
        if (!linked) return false;
        ++m_totals.linked;
        m_manifest.Add(*recorded);  // a link inherits what the source was and the content's CRC
        return true;
    }

    // A copy in the last set no longer looks as the backup left it: every set that shares it holds the
    // edited bytes now. The new set gets a fresh copy; the operator gets the names.
    void ReportEdited(const fs::Dir& previous, const fs::NativeString& name,
                      const fs::NativeString& relative) {
        fs::Facts copy;
        std::string sharing;
        if (previous.Stat(name, copy)) {
            for (const OwnSet& set : m_rule.sets) {
                fs::Facts other;
                if (set.kind.temporary || !StatInSet(m_rule.backup, set.name, m_rule.top, relative, other) ||
                    !(other.id == copy.id))
                    continue;
                if (!sharing.empty()) sharing += "、";
                sharing += LogPath("", set.name);
            }
        }
        if (sharing.empty()) sharing = LogPath("", m_rule.previous);
        m_context.Log("备份内容异常：" +
                      LogPath(m_rule.folder.PathOf(m_rule.previous), JoinNative(m_rule.top, relative)) +
                      " 在备份后被改动过，共用这份副本的备份：" + sharing + "；本次已重新复制此文件");
    }

    bool Copy(const fs::File& in, const fs::Facts& before, int64_t seen, const fs::NativeString& name,
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
        const size_t index = m_manifest.Add({key, before.size, before.writeTicks, before.changeTicks, crc,
                                             FactsSettled(before, seen, m_granularity)});
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
    const SetsOfRule& m_rule;
    BackupManifest& m_manifest;
    FlushWorkers* m_flushes;
    Totals& m_totals;
    const int64_t m_granularity;
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
    // Deduplicated and cloud files hold data the backup must have.
    bool ReadsThroughData() const override { return true; }

    bool Fatal() const { return m_fatal; }

  private:
    Totals& m_totals;
    SetFileWriter& m_writer;
    const fs::NativeString m_top;
    std::vector<std::shared_ptr<const fs::Dir>> m_destinations;
    std::vector<fs::Dir> m_previous;
    bool m_fatal = false;
};

// The rule's last complete set and what it holds: the set the new one links its unchanged files to.
// Without one, or with a manifest that cannot be trusted, every file is copied. A set dated after the
// run's clock is passed over while one before it exists: its clock was wrong, not its age.
struct PreviousSet {
    fs::NativeString name;
    fs::Dir top;
    BackupManifest manifest;
};

const OwnSet* LastCompleteSet(const std::vector<OwnSet>& sets, int64_t now) {
    const OwnSet* last = nullptr;
    auto later = [&](const OwnSet& a, const OwnSet& b) {
        const bool aFuture = a.mark.created > now + kFutureSlackSeconds;
        const bool bFuture = b.mark.created > now + kFutureSlackSeconds;
        // "-10" after "-9" within one second
        return std::tuple(!aFuture, a.mark.created, a.name.size(), a.name) >
               std::tuple(!bFuture, b.mark.created, b.name.size(), b.name);
    };
    for (const OwnSet& set : sets) {
        if (!set.kind.temporary && !set.kind.incomplete && (!last || later(set, *last))) last = &set;
    }
    return last;
}

std::optional<PreviousSet> OpenPreviousSet(const fs::Dir& backup, const SetFolder& folder,
                                           const std::vector<OwnSet>& sets, int64_t now,
                                           std::string_view sourceGbk, RunContext& context) {
    const OwnSet* last = LastCompleteSet(sets, now);
    if (!last) return std::nullopt;
    const std::string where = folder.PathOf(last->name);
    auto copyAll = [&](const std::string& why) {
        context.Log(why + "，本次复制全部文件");
        return std::nullopt;
    };
    PreviousSet previous;
    previous.name = last->name;
    fs::Status s = backup.OpenDir(last->name, previous.top);
    ManifestState state = ManifestState::Unreadable;
    if (s) state = ReadSetManifest(previous.top, previous.manifest, s);
    switch (state) {
        case ManifestState::Good:
            break;
        case ManifestState::Missing:
            return copyAll("上次的备份 " + where + " 没有文件清单");
        case ManifestState::Unreadable:
            return copyAll("无法读取上次的备份 " + where + " 的文件清单（" + ReasonText(s) + "）");
        case ManifestState::Newer:
            return copyAll("上次的备份 " + where + " 的文件清单由较新版本的程序写入");
        case ManifestState::OtherClock:
            return copyAll("上次的备份 " + where + " 的文件清单不是本系统写入的");
        case ManifestState::Damaged:
            return copyAll("上次的备份 " + where + " 的文件清单已损坏");
    }
    if (previous.manifest.Source() != sourceGbk) return copyAll("上次的备份 " + where + " 来自另一个源路径");
    return previous;
}

// The manifest goes in last, made durable with the copies, so that a set named complete always
// has the record of what it holds. It is written in pieces: a tree of a million files would
// otherwise hold its whole text once more.
fs::Status WriteManifest(const fs::Dir& set, const BackupManifest& manifest, const PreviousSet* previous) {
    const fs::NativeString name = fs::NativeFromAscii(kSetManifestName);
    // Nothing changed: the last set's manifest says it all, and a link to it costs no space.
    if (previous) {
        const std::string_view stored = previous->manifest.StoredText();
        size_t at = 0;
        const bool same = manifest.WriteText([&](std::string_view piece) {
            if (stored.substr(at, piece.size()) != piece) return false;
            at += piece.size();
            return true;
        }) && at == stored.size();
        bool linked = false;
        auto unchanged = [&](const fs::Facts& facts) { return facts.size == stored.size(); };
        if (same && set.LinkFile(name, previous->top, name, unchanged, linked) && linked) return {};
    }
    fs::File file;
    fs::Status s = set.CreateFile(name, file);
    if (!s) return s;
    uint64_t offset = 0;
    manifest.WriteText([&](std::string_view piece) {
        s = file.WriteAt(offset, piece.data(), piece.size());
        offset += piece.size();
        return bool(s);
    });
    if (s) s = file.MakeDurable();
    if (!s) {
        file.Close();
        set.DeleteFile(name);  // a manifest cut short must not be taken for a record
    }
    return s;
}

std::string CreatedText(const RunnerOptions& options, int64_t created) {
    std::string text;
    AppendCivilTime(text, options.localTime(created));
    return text;
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
    if (sourceName == fs::NativeFromAscii(kSetMarkName) || sourceName == fs::NativeFromAscii(kSetDoneName))
        return Failed("源路径的名称与备份标记文件同名：" + sourceGbk);
    if (sourceName == fs::NativeFromAscii(kSetManifestName))
        return Failed("源路径的名称与备份清单文件同名：" + sourceGbk);

    fs::Dir backup;
    if (fs::Status s = fs::Dir::OpenOrCreate(*backupPath, backup); !s) {
        return Failed("无法打开备份目录 " + backupGbk + "：" + ReasonText(s));
    }
    if (sourceIsFolder && sourceDir.Id() == backup.Id()) return Failed("备份目录与源目录相同：" + backupGbk);

    Totals totals;
    SetFolder folder(backup, backupGbk, rule.rule_id, context.Installation(), context, m_options);
    // Sets left by a run that crashed, a removal that was cut short, or a finished set that could not be
    // named: the ones no run holds any more are finished off.
    std::vector<OwnSet> sets = folder.Sets();
    uint64_t retentionFailures = 0;
    if (std::any_of(sets.begin(), sets.end(), [](const OwnSet& set) { return set.kind.temporary; })) {
        retentionFailures = folder.FinishLeftovers(sets);
        sets = folder.Sets();
    } else {
        retentionFailures = folder.FinishLeftovers({});
    }
    std::optional<PreviousSet> previous = OpenPreviousSet(backup, folder, sets, now, sourceGbk, context);

    // The working set: its lock first, so that no other run takes it for a leftover, then the folder,
    // then the mark, so that even a crash leaves it known as ours.
    fs::NativeString baseName, tempName;
    fs::FileLock lock;
    fs::Status made{fs::Error::Exists, 0};
    for (int sequence = 1;
         sequence <= 99 && (made.error == fs::Error::Exists || made.error == fs::Error::Locked); ++sequence) {
        baseName = fs::NativeFromAscii(SetBaseName(rule.rule_id, local, sequence));
        fs::Facts facts;
        if (backup.Stat(baseName, facts) || backup.Stat(baseName + fs::NativeFromAscii("-incomplete"), facts))
            continue;
        tempName = WorkingName(baseName);
        made = folder.Lock(tempName, lock);
        if (made) made = backup.MakeDir(tempName);
        if (!made) lock = fs::FileLock();
    }
    if (!made) return Failed("无法在 " + backupGbk + " 中创建备份：" + ReasonText(made));
    auto set = std::make_shared<fs::Dir>();
    std::optional<FlushWorkers> flushes;
    // Every handle inside the set is closed before it is renamed or removed.
    auto discard = [&] {
        if (flushes) flushes->Abandon();
        set.reset();
        previous.reset();
        folder.RemoveWorking(tempName);
    };
    fs::Status s = backup.OpenDir(tempName, *set);
    if (s) {
        fs::File mark;
        const std::string text = SetMarkText(rule.rule_id, now, folder.Installation());
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
    const SetsOfRule ofRule{folder, backup, sets, previous ? previous->name : fs::NativeString(),
                            sourceIsFolder ? sourceName : fs::NativeString()};
    SetFileWriter writer(context, m_options, sourceGbk, previous ? &previous->manifest : nullptr, ofRule,
                         manifest, flushes ? &*flushes : nullptr, totals,
                         m_options.timeGranularity(sourceIsFolder ? sourceDir : sourceParent));
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
                    LogPath(folder.PathOf(tempName), fs::NativeFromAscii(kSetManifestName)) + "：" +
                    ReasonText(m) + "，下次备份将复制全部文件");
    }
    previous.reset();
    fs::NativeString finalName = baseName;
    if (totals.failures) finalName += fs::NativeFromAscii("-incomplete");
    // Every copy is on disk before the set says it is finished, and it says so before it takes the
    // name that says it is complete: a run that cannot rename it leaves it to the next run to name.
    s = backup.SyncVolume();
    const fs::Status done = s ? folder.MarkDone(*set, finalName) : s;
    set.reset();
    if (!s) {
        discard();
        return Failed("无法完成备份 " + folder.PathOf(finalName) + "：" + ReasonText(s));
    }
    if (fs::Status named = folder.GiveName(tempName, finalName); !named) {
        std::string summary = "备份已完成，但无法改名为 " + LogPath("", finalName) + "（" +
                              ReasonText(named) + "），暂存为 " + folder.PathOf(tempName);
        summary += done ? "，下次运行时完成改名" : "；也无法写入完成标记，下次运行会把它当作未完成的备份删除";
        return {RunOutcome::PartiallyFailed, summary};
    }
    lock.Release();

    uint64_t removed = 0;
    if (rule.keep_days > 0 && totals.failures == 0) {
        std::vector<OwnSet> older;
        for (OwnSet& old : folder.Sets()) {
            if (!old.kind.temporary && old.name != finalName) older.push_back(std::move(old));
        }
        RetentionInput input{{}, now, rule.keep_days, ScheduleSpacing(rule.schedule)};
        for (const OwnSet& old : older) input.created.push_back(old.mark.created);
        const RetentionPlan plan = PlanRetention(input);
        for (size_t i : plan.future) {
            context.Log("时间异常：备份 " + folder.PathOf(older[i].name) + " 的创建时间 " +
                        CreatedText(m_options, older[i].mark.created) + " 晚于当前时间，予以保留");
        }
        if (plan.beyond) {
            const OwnSet& newest = older[*plan.beyond];
            context.Log("时间异常：当前时间比最近的备份 " + folder.PathOf(newest.name) + "（" +
                        CreatedText(m_options, newest.mark.created) + "）晚 " +
                        Decimal(uint64_t((now - newest.mark.created) / kSecondsPerDay)) +
                        " 天，超过计划间隔加两天，系统时间可能有误；本次不删除过期备份，若计算机只是长时间未"
                        "运行，下次运行时照常删除");
        }
        for (size_t i : plan.expired) {
            const OwnSet& old = older[i];
            bool busy = false;
            fs::Status r = folder.Expire(old, busy);
            if (r) {
                ++removed;
                context.Log("删除过期备份：" + folder.PathOf(old.name));
            } else if (!busy) {  // busy: another run is removing it
                ++retentionFailures;
                context.Log("删除过期备份失败：" + folder.PathOf(old.name) + "：" + ReasonText(r));
            }
        }
    } else if (rule.keep_days > 0) {
        context.Log("本次备份不完整，保留所有旧备份");
    }

    std::string summary = "备份到 " + folder.PathOf(finalName) + "，复制文件 " + Decimal(totals.copied) +
                          " 个，共 " + Decimal(totals.bytes) + " 字节，链接文件 " + Decimal(totals.linked) +
                          " 个";
    if (removed) summary += "，删除过期备份 " + Decimal(removed) + " 个";
    const uint64_t failures = totals.failures + retentionFailures;
    if (failures) summary += "，失败 " + Decimal(failures) + " 个";
    return {failures ? RunOutcome::PartiallyFailed : RunOutcome::Succeeded, summary};
}

}  // namespace kivo
