#include "archive_restorer.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <map>
#include <set>

#include "engine_api.h"
#include "file_byte_io.h"
#include "manual_progress.h"
#include "run_text.h"
#include "shared_files.h"
#include "tree_remover.h"
#include "zip_format.h"
#include "zip_reader.h"

namespace kivo {
namespace {

struct Planned {
    size_t index = 0;                     // in the reader's entry order
    std::vector<fs::NativeString> parts;  // below the target
    bool directory = false;
};

// The open folders from the target down to the current one, so that files of one folder share
// its handle and only one branch is open at a time.
class FolderChain {
  public:
    explicit FolderChain(const fs::Dir& target) : m_target(target) {}

    // Opens (creating as needed) the folders parts[0..count); never through a link.
    fs::Status Reach(const std::vector<fs::NativeString>& parts, size_t count, uint64_t& created) {
        size_t common = 0;
        while (common < m_names.size() && common < count && m_names[common] == parts[common]) ++common;
        m_names.resize(common);
        m_dirs.resize(common);
        for (size_t i = common; i < count; ++i) {
            const fs::Dir& at = i == 0 ? m_target : m_dirs.back();
            fs::Dir next;
            fs::Status s = at.OpenDir(parts[i], next);
            if (s.error == fs::Error::NotFound) {
                s = at.MakeDir(parts[i]);
                if (s) ++created;
                if (s || s.error == fs::Error::Exists) s = at.OpenDir(parts[i], next);
            }
            if (!s) return s;
            m_names.push_back(parts[i]);
            m_dirs.push_back(std::move(next));
        }
        return {};
    }
    const fs::Dir& Current() const { return m_dirs.empty() ? m_target : m_dirs.back(); }

  private:
    const fs::Dir& m_target;
    std::vector<fs::NativeString> m_names;
    std::vector<fs::Dir> m_dirs;
};

// Staged files wait in folders of at most 256, named by their entry's index: one flat folder of
// many thousand files makes every create and rename search a long directory.
constexpr size_t kBucketSize = 256;

class StagingBuckets {
  public:
    explicit StagingBuckets(const fs::Dir& staging) : m_staging(staging) {}

    static fs::NativeString FileName(size_t index) {
        return fs::NativeFromAscii(std::to_string(index % kBucketSize));
    }

    // The bucket of an entry, made on first use when create is set.
    fs::Status Get(size_t index, bool create, const fs::Dir*& out) {
        const size_t bucket = index / kBucketSize;
        auto it = m_open.find(bucket);
        if (it == m_open.end()) {
            if (m_open.size() >= 32) m_open.erase(m_open.begin());  // a few handles, not one per bucket
            std::string text = "b";
            text += std::to_string(bucket);
            const fs::NativeString name = fs::NativeFromAscii(text);
            if (create) {
                if (fs::Status s = m_staging.MakeDir(name); !s && s.error != fs::Error::Exists) return s;
            }
            fs::Dir dir;
            if (fs::Status s = m_staging.OpenDir(name, dir); !s) return s;
            it = m_open.emplace(bucket, std::move(dir)).first;
        }
        out = &it->second;
        return {};
    }
    void Close() { m_open.clear(); }

  private:
    const fs::Dir& m_staging;
    std::map<size_t, fs::Dir> m_open;
};

// The result code of an archive fault, and the head of its log line.
struct Fault {
    int code;
    const char* text;
};
Fault FaultOf(zip::ZipError error) {
    switch (error) {
        case zip::ZipError::Unsafe:
            return {KIVO_E_ARCHIVE_UNSAFE, "备份文件含有不安全的条目，整个拒绝还原"};
        case zip::ZipError::Read:
            return {KIVO_E_READ_FAILED, "读取备份文件失败"};
        case zip::ZipError::Output:
            return {KIVO_E_WRITE_FAILED, "写入还原的文件失败"};
        default:
            return {KIVO_E_ARCHIVE_DAMAGED, "备份文件已损坏"};
    }
}

int CodeOf(const zip::ZipProblem& p) {
    return FaultOf(p.error).code;
}

std::string ProblemText(const zip::ZipProblem& p) {
    std::string text = FaultOf(p.error).text;
    if (!p.entry.empty()) text += "：" + ExactName(p.entry);
    return text + "：" + p.reason;
}

}  // namespace

int ArchiveRestorer::Run(const std::string& fileGbk, const std::string& targetGbk, RunContext& context) {
    context.LogBoundary("开始还原：" + fileGbk + " 到 " + targetGbk);
    auto fail = [&](int code, const std::string& why) {
        context.LogBoundary("还原失败（错误代码 " + std::to_string(code) + "）：" + why);
        return code;
    };
    auto filePath = shared::PathFromGbk(fileGbk);
    auto targetPath = shared::PathFromGbk(targetGbk);
    if (!filePath || !filePath->is_absolute())
        return fail(KIVO_E_SOURCE_MISSING, "备份文件不是有效的完整路径：" + fileGbk);
    if (targetPath && !targetPath->has_filename() && targetPath->has_relative_path()) {
        *targetPath = targetPath->parent_path();  // "D:\\out\\" names the folder out
    }
    if (!targetPath || !targetPath->is_absolute()) {
        return fail(KIVO_E_TARGET_INVALID, "还原目录不是有效的完整路径：" + targetGbk);
    }
    fs::File archive;
    if (fs::Status s = fs::File::OpenPath(*filePath, archive); !s) {
        const bool missing = s.error == fs::Error::NotFound || s.error == fs::Error::IsDirectory ||
                             s.error == fs::Error::NotDirectory;
        return fail(missing ? KIVO_E_SOURCE_MISSING : KIVO_E_READ_FAILED,
                    "无法打开备份文件 " + fileGbk + "：" + (missing ? std::string("不存在") : ReasonText(s)));
    }
    fs::Facts archiveFacts;
    if (fs::Status s = archive.GetFacts(archiveFacts); !s) return fail(KIVO_E_READ_FAILED, ReasonText(s));

    FileSource source(archive, archiveFacts.size);
    zip::ZipReader reader(source);
    auto refuse = [&](const zip::ZipProblem& problem) { return fail(CodeOf(problem), ProblemText(problem)); };
    if (!reader.Open()) return refuse(reader.Problem());

    // Native names, and no two entries that the target's file system would take for one place.
    std::vector<Planned> plan;
    std::map<fs::NativeString, std::string> files;  // folded path -> the entry's name
    std::set<fs::NativeString> folders;
    const auto& entries = reader.Entries();
    for (size_t i = 0; i < entries.size(); ++i) {
        Planned p{i, {}, entries[i].directory};
        fs::NativeString folded;
        for (size_t k = 0; k < entries[i].path.parts.size(); ++k) {
            auto native = fs::NativeFromUtf8(entries[i].path.parts[k]);
            if (!native) return refuse({zip::ZipError::Unsafe, entries[i].name, "名称无法转换"});
            folded = JoinNative(folded, fs::FoldName(*native));
            p.parts.push_back(std::move(*native));
            if (k + 1 < entries[i].path.parts.size()) folders.insert(folded);
        }
        const bool clash =
            p.directory ? files.count(folded) > 0 : !files.emplace(folded, entries[i].name).second;
        if (p.directory) folders.insert(folded);
        if (clash) return refuse({zip::ZipError::Unsafe, entries[i].name, "重复的条目"});
        plan.push_back(std::move(p));
    }
    for (const auto& [folded, name] : files) {
        if (folders.count(folded)) return refuse({zip::ZipError::Unsafe, name, "文件与目录同名"});
    }

    fs::Dir target;
    bool madeTarget = false;
    fs::Status opened = fs::Dir::Open(*targetPath, target);
    if (opened.error == fs::Error::NotFound) {
        opened = fs::Dir::OpenOrCreate(*targetPath, target);
        madeTarget = bool(opened);
    }
    if (!opened)
        return fail(KIVO_E_TARGET_INVALID, "无法使用还原目录 " + targetGbk + "：" + ReasonText(opened));
    // A target folder that this restore made goes again when the restore fails (only while empty).
    auto forgetTarget = [&] {
        if (!madeTarget) return;
        target = fs::Dir();
        fs::Dir parent;
        if (fs::Dir::Open(targetPath->parent_path(), parent))
            parent.RemoveDir(targetPath->filename().native());
    };
    uint64_t available = 0, total = 0;
    if (m_options.freeSpace(target, available, total) && reader.TotalSize() > available) {
        forgetTarget();
        return fail(KIVO_E_WRITE_FAILED, "磁盘空间不足：需要 " + Decimal(reader.TotalSize()) +
                                             " 字节，可用 " + Decimal(available) + " 字节");
    }

    // The staging folder: a fresh name that no entry uses.
    std::mt19937_64 random(std::random_device{}() ^ uint64_t(context.NowUtc()));
    fs::NativeString stagingName;
    fs::Status s{fs::Error::Exists, 0};
    for (int attempt = 0; attempt < 20 && s.error == fs::Error::Exists; ++attempt) {
        char buf[48];
        std::snprintf(buf, sizeof buf, ".kivo-restore-%lu-%016llx", fs::ProcessId(),
                      static_cast<unsigned long long>(random()));
        stagingName = fs::NativeFromAscii(buf);
        if (folders.count(fs::FoldName(stagingName)) || files.count(fs::FoldName(stagingName))) continue;
        s = target.MakeDir(stagingName);
    }
    fs::Dir staging;
    if (s) s = target.OpenDir(stagingName, staging);
    if (!s) {
        forgetTarget();
        return fail(KIVO_E_CREATE_FAILED, "无法在还原目录中创建临时目录：" + ReasonText(s));
    }
    StagingBuckets buckets(staging);
    auto discard = [&](int code, const std::string& why) {
        buckets.Close();
        staging = fs::Dir();
        RemoveTree(target, stagingName);
        forgetTarget();
        return fail(code, why);
    };

    // Extract and check everything before any file takes its place.
    uint64_t fileCount = 0, bytes = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    // Also inside a file, so that one large file does not leave the log silent.
    auto progress = [&] {
        auto now = std::chrono::steady_clock::now();
        if (now - lastProgress < std::chrono::seconds(m_options.progressSeconds)) return;
        lastProgress = now;
        context.Log(ManualProgressLine({ManualOperation::Restore, fileCount, bytes}));
    };
    for (const Planned& p : plan) {
        if (context.Cancelled()) return discard(KIVO_E_CANCELLED, "任务引擎正在关闭，未还原任何文件");
        if (p.directory) continue;
        const zip::ZipEntry& e = entries[p.index];
        fs::File out;
        const fs::Dir* bucket = nullptr;
        fs::Status c = buckets.Get(p.index, true, bucket);
        if (c) c = bucket->CreateFile(StagingBuckets::FileName(p.index), out);
        if (!c) {
            return discard(c.error == fs::Error::DiskFull ? KIVO_E_WRITE_FAILED : KIVO_E_CREATE_FAILED,
                           "无法创建 " + ExactName(e.name) + "：" + ReasonText(c));
        }
        uint64_t offset = 0;
        fs::Status written;
        const bool ok = reader.Extract(p.index, [&](const char* data, size_t n) {
            written = out.WriteAt(offset, data, n);
            offset += n;
            bytes += n;
            progress();
            return bool(written);
        });
        if (!ok) {
            const zip::ZipProblem& problem = reader.Problem();
            if (problem.error == zip::ZipError::Output) {
                return discard(KIVO_E_WRITE_FAILED,
                               "写入 " + ExactName(e.name) + " 失败：" + ReasonText(written));
            }
            return discard(CodeOf(problem), ProblemText(problem));
        }
        int64_t mtime = 0;
        if (e.mtime) {
            mtime = *e.mtime;
        } else if (!zip::UtcFromDosTime({e.dosTime, e.dosDate}, mtime)) {
            mtime = context.NowUtc();
        }
        fs::Status d = out.SetMtime(mtime);
        if (d) d = out.MakeDurable();
        if (!d) return discard(KIVO_E_WRITE_FAILED, "写入 " + ExactName(e.name) + " 失败：" + ReasonText(d));
        ++fileCount;
        progress();
    }
    if (!reader.FinishCheck()) return discard(CodeOf(reader.Problem()), ProblemText(reader.Problem()));
    archive.Close();
    if (fs::Status f = staging.SyncVolume(); !f)
        return discard(KIVO_E_WRITE_FAILED, "写入失败：" + ReasonText(f));

    // Now the verified files take their places, one folder branch at a time.
    std::sort(plan.begin(), plan.end(), [](const Planned& a, const Planned& b) { return a.parts < b.parts; });
    FolderChain chain(target);
    uint64_t placed = 0, foldersMade = 0, failures = 0;
    for (const Planned& p : plan) {
        const size_t folderCount = p.directory ? p.parts.size() : p.parts.size() - 1;
        fs::Status r = chain.Reach(p.parts, folderCount, foldersMade);
        if (r && !p.directory) {
            const fs::Dir* bucket = nullptr;
            r = buckets.Get(p.index, false, bucket);
            if (r)
                r = bucket->Rename(StagingBuckets::FileName(p.index), chain.Current(), p.parts.back(), true);
        }
        if (!r) {
            ++failures;
            fs::NativeString relative;
            for (const auto& part : p.parts) relative = JoinNative(relative, part);
            context.Log("还原失败：" + LogPath(targetGbk, relative) + "：" + ReasonText(r));
        } else if (!p.directory) {
            ++placed;
        }
    }
    buckets.Close();
    staging = fs::Dir();
    if (fs::Status c = RemoveTree(target, stagingName); !c) {
        context.Log("删除临时目录失败：" + LogPath(targetGbk, stagingName) + "：" + ReasonText(c));
    }
    if (failures) {
        return fail(placed ? KIVO_E_PARTIAL : KIVO_E_CREATE_FAILED,
                    "还原了 " + Decimal(placed) + " 个文件，" + Decimal(failures) + " 个未能还原");
    }
    context.LogBoundary("还原完成：" + targetGbk + "，文件 " + Decimal(placed) + " 个，新建目录 " +
                        Decimal(foldersMade) + " 个，共 " + Decimal(bytes) + " 字节");
    return KIVO_OK;
}

}  // namespace kivo
