#include "backup_set_verifier.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "backup_set_folder.h"
#include "run_text.h"
#include "shared_files.h"
#include "run_visitor.h"
#include "zip_format.h"

namespace kivo {
namespace {

constexpr size_t kReadPiece = 256 << 10;

// Why a file of a set is not as its manifest says, or nullopt.
std::optional<std::string> CheckFile(const fs::Dir& parent, const fs::NativeString& name,
                                     const ManifestEntry& recorded, std::vector<char>& buffer) {
    fs::File in;
    fs::Facts facts;
    fs::Status s = parent.OpenRead(name, in);
    if (s) s = in.GetState(facts);
    if (!s) return "无法读取（" + ReasonText(s) + "）";
    if (facts.size != recorded.size) {
        return "大小不符：清单记录 " + Decimal(recorded.size) + " 字节，实际 " + Decimal(facts.size) +
               " 字节";
    }
    uint32_t crc = 0;
    uint64_t done = 0;
    while (done < recorded.size) {
        size_t got = 0;
        const size_t want = size_t(std::min<uint64_t>(buffer.size(), recorded.size - done));
        if (fs::Status r = in.ReadAt(done, buffer.data(), want, got); !r)
            return "无法读取（" + ReasonText(r) + "）";
        if (got == 0) break;
        crc = zip::Crc32(buffer.data(), got, crc);
        done += got;
    }
    if (done != recorded.size) return std::string("文件在校验过程中变短");
    if (crc != recorded.crc) return std::string("内容已损坏（CRC-32 与清单不符）");
    return std::nullopt;
}

// Walks one set and checks every file its manifest names; files the manifest does not name (none,
// unless someone added them) are left alone.
class SetChecker final : public RunVisitor {
  public:
    SetChecker(RunContext& context, const BackupManifest& manifest, const std::string& setGbk)
        : RunVisitor(context, setGbk), m_manifest(manifest), m_seen(manifest.Size(), false) {}

    bool EnterDirectory(const fs::Dir&, const fs::NativeString&, const fs::DirEntry&) override {
        return true;
    }
    void File(const fs::Dir& parent, const fs::DirEntry& entry, const fs::NativeString& relative) override {
        const std::optional<size_t> index = m_manifest.Index(ManifestPath(relative));
        if (!index || m_seen[*index]) return;
        m_seen[*index] = true;
        if (auto problem = CheckFile(parent, entry.name, m_manifest.At(*index), m_buffer)) {
            Bad(relative, *problem);
        } else {
            ++m_good;
        }
    }
    void Link(const fs::NativeString& relative) override {
        const std::optional<size_t> index = m_manifest.Index(ManifestPath(relative));
        if (!index || m_seen[*index]) return;
        m_seen[*index] = true;
        Bad(relative, "已被替换为链接");
    }
    void Failure(const fs::NativeString& relative, const fs::Status& status) override {
        m_context.Log("校验失败：" + LogPath(m_root, relative) + "：无法读取目录（" + ReasonText(status) +
                      "）");
    }
    void TooDeep(const fs::NativeString&) override {}
    bool Stop() override { return CheckCancelled(); }

    // The files recorded but not found.
    void ReportMissing() {
        for (size_t i = 0; i < m_seen.size(); ++i) {
            if (m_seen[i]) continue;
            ++m_bad;
            m_context.Log("校验失败：" + LogPathOf(m_manifest.At(i).path) + "：文件缺失");
        }
    }

    uint64_t Good() const { return m_good; }
    uint64_t BadCount() const { return m_bad; }

  private:
    void Bad(const fs::NativeString& relative, const std::string& what) {
        ++m_bad;
        m_context.Log("校验失败：" + LogPath(m_root, relative) + "：" + what);
    }

    // The log path of a file the manifest names: its escapes undone, its names in the platform's form.
    std::string LogPathOf(std::string_view path) const {
        const std::string bytes = UnescapeManifestText(path);
        if (auto native = fs::NativeFromUtf8(bytes)) {
            std::replace(native->begin(), native->end(), fs::NativeString::value_type('/'),
                         fs::NativeString::value_type(std::filesystem::path::preferred_separator));
            return LogPath(m_root, *native);
        }
        return m_root + "/" + ExactName(bytes);  // a lone surrogate of a Windows name
    }

    const BackupManifest& m_manifest;
    std::vector<bool> m_seen;
    std::vector<char> m_buffer = std::vector<char>(kReadPiece);
    uint64_t m_good = 0, m_bad = 0;
};

}  // namespace

RunReport BackupSetVerifier::Run(const BackupRule& rule, RunContext& context) {
    if (!FieldTerminated(rule.backup_path) || FieldText(rule.backup_path).empty())
        return {RunOutcome::Failed, "备份目录为空或未结束"};
    const std::string backupGbk(FieldText(rule.backup_path));
    const auto backupPath = shared::PathFromGbk(backupGbk);
    if (!backupPath || !backupPath->is_absolute())
        return {RunOutcome::Failed, "备份目录不是有效的完整路径：" + backupGbk};
    fs::Dir backup;
    if (fs::Status s = fs::Dir::Open(*backupPath, backup); !s)
        return {RunOutcome::Failed, "无法打开备份目录 " + backupGbk + "：" + ReasonText(s)};
    SetFolder folder(backup, backupGbk, rule.rule_id, context.Installation(), context, m_options);

    uint64_t checked = 0, troubled = 0;
    for (const OwnSet& set : folder.Sets()) {
        if (set.kind.temporary || set.kind.incomplete) continue;
        if (context.Cancelled()) return {RunOutcome::Cancelled, "校验已取消"};
        ++checked;
        const std::string where = folder.PathOf(set.name);
        fs::Dir top;
        BackupManifest manifest;
        fs::Status s = backup.OpenDir(set.name, top);
        ManifestState state = ManifestState::Unreadable;
        if (s) state = ReadSetManifest(top, manifest, s);
        const char* cannot = nullptr;
        switch (state) {
            case ManifestState::Good:
                break;
            case ManifestState::Missing:
                cannot = "没有文件清单";
                break;
            case ManifestState::Unreadable:
                context.Log("无法校验：" + where + "：无法读取文件清单（" + ReasonText(s) + "）");
                ++troubled;
                continue;
            case ManifestState::Damaged:
                cannot = "文件清单已损坏";
                break;
            case ManifestState::Newer:
                cannot = "文件清单由较新版本的程序写入";
                break;
            case ManifestState::OtherClock:
                cannot = "文件清单不是本系统写入的";
                break;
        }
        if (cannot) {
            context.Log("无法校验：" + where + "：" + cannot);
            ++troubled;
            continue;
        }
        SetChecker checker(context, manifest, where);
        WalkTree(top, checker, {});
        if (checker.Cancelled()) return {RunOutcome::Cancelled, "校验已取消"};
        checker.ReportMissing();
        if (checker.BadCount() == 0) {
            context.Log("校验完成：" + where + "，" + Decimal(checker.Good()) + " 个文件正常");
        } else {
            ++troubled;
            context.Log("校验发现问题：" + where + "，" + Decimal(checker.BadCount()) + " 个文件缺失或损坏");
        }
    }
    if (checked == 0) return {RunOutcome::Failed, "备份目录 " + backupGbk + " 中没有本规则的完整备份"};
    std::string summary = "校验备份 " + Decimal(checked) + " 个，";
    summary += troubled ? "其中 " + Decimal(troubled) + " 个有问题" : std::string("全部正常");
    return {troubled ? RunOutcome::PartiallyFailed : RunOutcome::Succeeded, summary};
}

}  // namespace kivo
