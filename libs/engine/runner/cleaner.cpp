#include "cleaner.h"

#include <algorithm>

#include "clean_conditions.h"
#include "run_text.h"
#include "run_visitor.h"
#include "shared_files.h"

namespace kivo {
namespace {

struct Candidate {
    std::vector<fs::NativeString> folders;  // below the root
    fs::NativeString name;
    fs::NativeString relative;
    int64_t mtime = 0;
    uint64_t size = 0;
    fs::FileId id;
};

struct Totals {
    uint64_t examined = 0, deleted = 0, freed = 0, failures = 0;
};

class CleanVisitor final : public RunVisitor {
  public:
    CleanVisitor(const RunnerOptions& options, const CleanConditions& conditions, RunContext& context,
                 const CleanConditions::LocalTime& local, std::string_view rootGbk, int64_t now, bool collect,
                 Totals& totals)
        : RunVisitor(context, rootGbk),
          m_options(options),
          m_conditions(conditions),
          m_local(local),
          m_now(now),
          m_collect(collect),
          m_keepsHistory(context.KeepsHistory()),
          m_totals(totals) {}

    bool EnterDirectory(const fs::Dir&, const fs::NativeString&, const fs::DirEntry& entry) override {
        m_folders.push_back(entry.name);
        return true;
    }
    void LeaveDirectory(const fs::NativeString&) override { m_folders.pop_back(); }

    void File(const fs::Dir& parent, const fs::DirEntry& entry, const fs::NativeString& relative) override {
        ++m_totals.examined;
        // A name that has no UTF-8 form cannot hold a keyword: with a name filter it never matches.
        auto name = fs::Utf8FromNative(entry.name);
        if (!name && !m_conditions.Keywords().empty()) return;
        if (!m_conditions.Matches(name ? *name : std::string(), entry.facts.size, entry.facts.mtime, m_now,
                                  m_local)) {
            return;
        }
        if (m_collect) {
            m_candidates.push_back(
                {m_folders, entry.name, relative, entry.facts.mtime, entry.facts.size, entry.facts.id});
            return;
        }
        Delete(parent, entry.name, entry.facts.id, entry.facts.size, entry.facts.mtime, relative);
    }

    void Failure(const fs::NativeString& relative, const fs::Status& status) override {
        ++m_totals.failures;
        LogUnreadableFolder("清理", relative, status);
    }

    void TooDeep(const fs::NativeString& relative) override {
        ++m_totals.failures;
        LogTooDeep("清理", "未检查", relative);
    }

    bool Stop() override { return CheckCancelled(); }

    // Every deletion goes into the run history, every failure to the run log as well: the path,
    // size and last-write time of the file.
    void Delete(const fs::Dir& parent, const fs::NativeString& name, const fs::FileId& id, uint64_t size,
                int64_t mtime, const fs::NativeString& relative) {
        fs::Status s = AtSeam(m_options, RunnerOptions::Seam::DeleteFile, relative);
        if (s) s = parent.DeleteFile(name, &id);
        if (s) {
            ++m_totals.deleted;
            m_totals.freed += size;
            if (m_keepsHistory) m_context.Record(FileFacts("已删除：", relative, size, mtime));
        } else if (s.error != fs::Error::NotFound) {  // already gone is what the rule wanted
            Failed(relative, size, mtime, s);
        }
    }

    void Failed(const fs::NativeString& relative, uint64_t size, int64_t mtime, const fs::Status& s) {
        ++m_totals.failures;
        m_context.Log(FileFacts("删除失败：", relative, size, mtime) + "：" + ReasonText(s));
    }

    std::vector<Candidate>& Candidates() { return m_candidates; }

  private:
    const RunnerOptions& m_options;
    const CleanConditions& m_conditions;
    const CleanConditions::LocalTime& m_local;
    int64_t m_now;
    bool m_collect;
    bool m_keepsHistory;
    Totals& m_totals;
    std::vector<fs::NativeString> m_folders;
    std::vector<Candidate> m_candidates;

    // What a line says of a file: its path, size and last-write time. One allocation: a clean records
    // every file it deletes.
    std::string FileFacts(std::string_view what, const fs::NativeString& relative, uint64_t size,
                          int64_t mtime) const {
        std::string text;
        text.reserve(what.size() + m_root.size() + relative.size() + 64);
        text += what;
        AppendLogPath(text, m_root, relative);
        text += "，";
        text += Decimal(size);
        text += " 字节，修改时间 ";
        AppendCivilTime(text, m_local(mtime));
        return text;
    }
};

std::string Percent(uint64_t available, uint64_t total) {
    return Decimal(total ? available * 100 / total : 0) + "%";
}

bool Reached(uint64_t available, uint64_t total, int percent) {
    return total == 0 || available * 100 >= total * uint64_t(percent);
}

RunReport Failed(std::string summary) {
    return {RunOutcome::Failed, std::move(summary)};
}

}  // namespace

RunReport Cleaner::Run(const ClearRule& rule, RunContext& context) {
    if (!FieldTerminated(rule.path) || FieldText(rule.path).empty()) return Failed("监视目录为空或未结束");
    const std::string rootGbk(FieldText(rule.path));
    CleanConditions conditions;
    if (const char* why = conditions.Parse(rule)) return Failed(std::string("规则条件无效：") + why);
    auto rootPath = shared::PathFromGbk(rootGbk);
    if (!rootPath || !rootPath->is_absolute()) return Failed("监视目录不是有效的完整路径：" + rootGbk);

    // The folder the rule names may not itself be a link: deleting "in" it would delete elsewhere.
    bool link = false;
    if (fs::Status s = fs::PathIsLink(*rootPath, link); !s) {
        return Failed("无法打开监视目录 " + rootGbk + "：" + ReasonText(s));
    }
    if (link) return Failed("监视目录 " + rootGbk + " 是链接，为安全起见不清理");
    fs::Dir root;
    if (fs::Status s = fs::Dir::Open(*rootPath, root); !s) {
        return Failed("无法打开监视目录 " + rootGbk + "：" + ReasonText(s));
    }

    auto freeSpace = [&](uint64_t& available, uint64_t& total) {
        return m_options.freeSpace(root, available, total);
    };
    const int minFree = conditions.MinFreePercent();
    uint64_t available = 0, total = 0;
    if (minFree > 0) {
        if (fs::Status s = freeSpace(available, total); !s)
            return Failed("无法读取可用空间：" + ReasonText(s));
        if (Reached(available, total, minFree)) {
            return {RunOutcome::Succeeded,
                    "可用空间 " + Percent(available, total) + " 不低于 " + Decimal(minFree) + "%，无需删除"};
        }
        context.Log("可用空间 " + Percent(available, total) + " 低于 " + Decimal(minFree) +
                    "%，按修改时间从早到晚删除符合条件的文件");
    }

    Totals totals;
    CleanVisitor visitor(m_options, conditions, context, m_options.localTime, rootGbk, context.NowUtc(),
                         minFree > 0, totals);
    WalkTree(root, visitor, {});

    std::string freeNote;
    if (minFree > 0 && !visitor.Cancelled()) {
        auto& candidates = visitor.Candidates();
        std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
            return a.mtime != b.mtime ? a.mtime < b.mtime : a.relative < b.relative;
        });
        bool reached = false;
        for (const Candidate& c : candidates) {
            if (visitor.Stop()) break;
            if (fs::Status s = freeSpace(available, total); !s) {
                ++totals.failures;
                context.Log("清理失败：无法读取可用空间：" + ReasonText(s));
                break;
            }
            if ((reached = Reached(available, total, minFree))) break;
            // Reopened from the root one folder at a time, never through a link.
            fs::Dir folder;
            const fs::Dir* at = &root;
            fs::Status s;
            for (const fs::NativeString& part : c.folders) {
                fs::Dir next;
                if (!(s = at->OpenDir(part, next))) break;
                folder = std::move(next);
                at = &folder;
            }
            if (!s) {
                visitor.Failed(c.relative, c.size, c.mtime, s);
                continue;
            }
            visitor.Delete(*at, c.name, c.id, c.size, c.mtime, c.relative);
        }
        if (!reached && !visitor.Cancelled() && freeSpace(available, total) &&
            !Reached(available, total, minFree)) {
            context.Log("已删除全部符合条件的文件，可用空间 " + Percent(available, total) + " 仍低于 " +
                        Decimal(minFree) + "%");
        }
        freeNote = "，可用空间 " + Percent(available, total);
    }

    std::string summary = "检查文件 " + Decimal(totals.examined) + " 个，删除 " + Decimal(totals.deleted) +
                          " 个，释放 " + Decimal(totals.freed) + " 字节" + freeNote;
    if (totals.failures) summary += "，失败 " + Decimal(totals.failures) + " 个";
    if (visitor.Cancelled()) return {RunOutcome::Cancelled, summary};
    if (totals.failures) {
        return {totals.deleted ? RunOutcome::PartiallyFailed : RunOutcome::Failed, summary};
    }
    return {RunOutcome::Succeeded, summary};
}

}  // namespace kivo
