#include "cleaner.h"

#include <algorithm>
#include <optional>

#include "clean_conditions.h"
#include "engine_api.h"
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

// What becomes of a file the rule selects: the run deletes it, the preview lists it. The rest (the
// walk, the conditions, the free-space verdict and the oldest-first stop) is one code path for both,
// so that a preview can never disagree with the run that follows it.
class CleanAction {
  public:
    virtual ~CleanAction() = default;
    virtual void Take(const fs::Dir& parent, const fs::NativeString& name, const fs::FileId& id,
                      uint64_t size, int64_t mtime, const fs::NativeString& relative) = 0;
    // A selected file whose folder could not be opened again to take it.
    virtual void Failed(const fs::NativeString& relative, uint64_t size, int64_t mtime,
                        const fs::Status& s) = 0;
    // The free space of the folder's volume now.
    virtual fs::Status FreeSpace(const fs::Dir& root, uint64_t& available, uint64_t& total) = 0;
    // Whether a rule whose free space is already reached is walked all the same (the preview shows
    // what a run would delete once it is not); the run then deletes nothing.
    virtual bool WalksWhenReached() const { return false; }
};

// The walk: every condition of the rule, applied to every file below the folder.
class CleanVisitor final : public RunVisitor {
  public:
    CleanVisitor(const CleanConditions& conditions, RunContext& context,
                 const CleanConditions::LocalTime& local, std::string_view rootGbk, int64_t now, bool collect,
                 CleanAction& action, Totals& totals)
        : RunVisitor(context, rootGbk),
          m_conditions(conditions),
          m_local(local),
          m_now(now),
          m_collect(collect),
          m_action(action),
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
        m_action.Take(parent, entry.name, entry.facts.id, entry.facts.size, entry.facts.mtime, relative);
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

    std::vector<Candidate>& Candidates() { return m_candidates; }

  private:
    const CleanConditions& m_conditions;
    const CleanConditions::LocalTime& m_local;
    int64_t m_now;
    bool m_collect;
    CleanAction& m_action;
    Totals& m_totals;
    std::vector<fs::NativeString> m_folders;
    std::vector<Candidate> m_candidates;
};

// The run's action: deletes the file and keeps the books.
class CleanDeleter final : public CleanAction {
  public:
    CleanDeleter(const RunnerOptions& options, RunContext& context, const CleanConditions::LocalTime& local,
                 std::string_view rootGbk, Totals& totals)
        : m_options(options),
          m_context(context),
          m_local(local),
          m_root(rootGbk),
          m_keepsHistory(context.KeepsHistory()),
          m_totals(totals) {}

    void Take(const fs::Dir& parent, const fs::NativeString& name, const fs::FileId& id, uint64_t size,
              int64_t mtime, const fs::NativeString& relative) override {
        Delete(parent, name, id, size, mtime, relative);
    }

    fs::Status FreeSpace(const fs::Dir& root, uint64_t& available, uint64_t& total) override {
        return m_options.freeSpace(root, available, total);
    }

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

    void Failed(const fs::NativeString& relative, uint64_t size, int64_t mtime,
                const fs::Status& s) override {
        ++m_totals.failures;
        m_context.Log(FileFacts("删除失败：", relative, size, mtime) + "：" + ReasonText(s));
    }

  private:
    const RunnerOptions& m_options;
    RunContext& m_context;
    const CleanConditions::LocalTime& m_local;
    const std::string m_root;
    bool m_keepsHistory;
    Totals& m_totals;

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

// The preview's action: lists the file, and counts it as freed space, which is what the run measures
// after each delete (a volume may free a little more or less: clusters, hard links, compression).
class CleanLister final : public CleanAction {
  public:
    CleanLister(const RunnerOptions& options, CleanFileListing& listing, Totals& totals)
        : m_options(options), m_listing(listing), m_totals(totals) {}

    void Take(const fs::Dir&, const fs::NativeString&, const fs::FileId&, uint64_t size, int64_t mtime,
              const fs::NativeString& relative) override {
        ++m_totals.deleted;
        m_totals.freed += size;
        m_listing.File(relative, size, mtime);
    }
    // The run could not reach it either: it would not be deleted.
    void Failed(const fs::NativeString&, uint64_t, int64_t, const fs::Status&) override {}

    fs::Status FreeSpace(const fs::Dir& root, uint64_t& available, uint64_t& total) override {
        if (!m_measured) {
            fs::Status s = m_options.freeSpace(root, m_available, m_total);
            if (!s) return s;
            m_measured = true;
        }
        total = m_total;
        available = std::min(m_total, m_available + m_totals.freed);
        return {};
    }
    bool WalksWhenReached() const override { return true; }

  private:
    const RunnerOptions& m_options;
    CleanFileListing& m_listing;
    Totals& m_totals;
    bool m_measured = false;
    uint64_t m_available = 0, m_total = 0;
};

// Why a rule's folder cannot be cleaned: the run's words, and the code a preview answers.
struct Refusal {
    int code;
    std::string text;
};

// The rule's folder, opened without following a link, and its conditions.
struct Target {
    std::string rootGbk;
    CleanConditions conditions;
    fs::Dir root;
};

Refusal Unopenable(const std::string& rootGbk, const fs::Status& s) {
    return {s.error == fs::Error::NotFound ? KIVO_E_FOLDER_MISSING : KIVO_E_FOLDER_UNREADABLE,
            "无法打开监视目录 " + rootGbk + "：" + ReasonText(s)};
}

std::optional<Refusal> OpenTarget(const ClearRule& rule, Target& target) {
    if (!FieldTerminated(rule.path) || FieldText(rule.path).empty())
        return Refusal{KIVO_E_BAD_TEXT, "监视目录为空或未结束"};
    target.rootGbk = FieldText(rule.path);
    const std::string& rootGbk = target.rootGbk;
    if (const char* why = target.conditions.Parse(rule))
        return Refusal{KIVO_E_BAD_RANGE, std::string("规则条件无效：") + why};
    auto rootPath = shared::PathFromGbk(rootGbk);
    if (!rootPath || !rootPath->is_absolute())
        return Refusal{KIVO_E_BAD_TEXT, "监视目录不是有效的完整路径：" + rootGbk};

    // The folder the rule names may not itself be a link: deleting "in" it would delete elsewhere.
    bool link = false;
    if (fs::Status s = fs::PathIsLink(*rootPath, link); !s) return Unopenable(rootGbk, s);
    if (link) return Refusal{KIVO_E_FOLDER_UNREADABLE, "监视目录 " + rootGbk + " 是链接，为安全起见不清理"};
    if (fs::Status s = fs::Dir::Open(*rootPath, target.root); !s) return Unopenable(rootGbk, s);
    return std::nullopt;
}

struct Pass {
    int minFree = 0;
    uint64_t available = 0, total = 0;  // when the pass began
    bool reachedAtStart = false;
    std::optional<std::string> fault;  // the free space could not be read at the start
    std::string freeNote;
    bool cancelled = false;
};

// The one clean: the free-space verdict, the walk with every condition, the oldest-first stop.
Pass CleanTree(const RunnerOptions& options, const Target& target, RunContext& context, CleanAction& action,
               Totals& totals) {
    Pass pass;
    const int minFree = pass.minFree = target.conditions.MinFreePercent();
    const fs::Dir& root = target.root;
    uint64_t available = 0, total = 0;
    bool stopAtFree = minFree > 0;
    if (minFree > 0) {
        if (fs::Status s = action.FreeSpace(root, available, total); !s) {
            pass.fault = "无法读取可用空间：" + ReasonText(s);
            return pass;
        }
        pass.available = available;
        pass.total = total;
        if (Reached(available, total, minFree)) {
            pass.reachedAtStart = true;
            if (!action.WalksWhenReached()) return pass;
            stopAtFree = false;
        } else {
            context.Log("可用空间 " + Percent(available, total) + " 低于 " + Decimal(minFree) +
                        "%，按修改时间从早到晚删除符合条件的文件");
        }
    }

    CleanVisitor visitor(target.conditions, context, options.localTime, target.rootGbk, context.NowUtc(),
                         minFree > 0, action, totals);
    WalkTree(root, visitor, {});

    if (minFree > 0 && !visitor.Cancelled()) {
        auto& candidates = visitor.Candidates();
        std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
            return a.mtime != b.mtime ? a.mtime < b.mtime : a.relative < b.relative;
        });
        bool reached = false;
        for (const Candidate& c : candidates) {
            if (visitor.Stop()) break;
            if (stopAtFree) {
                if (fs::Status s = action.FreeSpace(root, available, total); !s) {
                    ++totals.failures;
                    context.Log("清理失败：无法读取可用空间：" + ReasonText(s));
                    break;
                }
                if ((reached = Reached(available, total, minFree))) break;
            }
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
                action.Failed(c.relative, c.size, c.mtime, s);
                continue;
            }
            action.Take(*at, c.name, c.id, c.size, c.mtime, c.relative);
        }
        if (stopAtFree && !reached && !visitor.Cancelled() && action.FreeSpace(root, available, total) &&
            !Reached(available, total, minFree)) {
            context.Log("已删除全部符合条件的文件，可用空间 " + Percent(available, total) + " 仍低于 " +
                        Decimal(minFree) + "%");
        }
        pass.freeNote = "，可用空间 " + Percent(available, total);
    }
    pass.cancelled = visitor.Cancelled();
    return pass;
}

}  // namespace

RunReport Cleaner::Run(const ClearRule& rule, RunContext& context) {
    Target target;
    if (auto refusal = OpenTarget(rule, target)) return Failed(refusal->text);
    Totals totals;
    CleanDeleter deleter(m_options, context, m_options.localTime, target.rootGbk, totals);
    const Pass pass = CleanTree(m_options, target, context, deleter, totals);
    if (pass.fault) return Failed(*pass.fault);
    if (pass.reachedAtStart) {
        return {RunOutcome::Succeeded, "可用空间 " + Percent(pass.available, pass.total) + " 不低于 " +
                                           Decimal(pass.minFree) + "%，无需删除"};
    }

    std::string summary = "检查文件 " + Decimal(totals.examined) + " 个，删除 " + Decimal(totals.deleted) +
                          " 个，释放 " + Decimal(totals.freed) + " 字节" + pass.freeNote;
    if (totals.failures) summary += "，失败 " + Decimal(totals.failures) + " 个";
    if (pass.cancelled) return {RunOutcome::Cancelled, summary};
    if (totals.failures) {
        return {totals.deleted ? RunOutcome::PartiallyFailed : RunOutcome::Failed, summary};
    }
    return {RunOutcome::Succeeded, summary};
}

int Cleaner::Preview(const ClearRule& rule, RunContext& context, CleanFileListing& listing,
                     CleanPreview& preview) {
    Target target;
    if (auto refusal = OpenTarget(rule, target)) {
        preview.reason = std::move(refusal->text);
        return refusal->code;
    }
    Totals totals;
    CleanLister lister(m_options, listing, totals);
    const Pass pass = CleanTree(m_options, target, context, lister, totals);
    preview.minFreePercent = pass.minFree;
    preview.available = pass.available;
    preview.total = pass.total;
    preview.deletesNow = !pass.reachedAtStart;
    preview.files = totals.deleted;
    preview.bytes = totals.freed;
    if (pass.fault) {
        preview.reason = *pass.fault;
        return KIVO_E_FOLDER_UNREADABLE;
    }
    return pass.cancelled ? KIVO_E_STOPPED : KIVO_OK;
}

}  // namespace kivo
