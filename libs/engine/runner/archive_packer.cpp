#include "archive_packer.h"

#include <chrono>
#include <memory>

#include "engine_api.h"
#include "file_byte_io.h"
#include "manual_progress.h"
#include "run_text.h"
#include "run_visitor.h"
#include "shared_files.h"
#include "source_file.h"
#include "zip_writer.h"

namespace kivo {
namespace {

constexpr size_t kReadChunk = 1 << 20;

// The entry name of a path below the source: UTF-8 with '/' separators.
std::optional<std::string> EntryName(const fs::NativeString& relative) {
    auto utf8 = fs::Utf8FromNative(relative);
    if (!utf8) return std::nullopt;
#ifdef _WIN32
    for (char& c : *utf8) {
        if (c == '\\') c = '/';
    }
#endif
    return utf8;
}

class PackVisitor final : public RunVisitor {
  public:
    PackVisitor(RunContext& context, const RunnerOptions& options, std::string_view sourceGbk,
                zip::ZipWriter& writer)
        : RunVisitor(context, sourceGbk),
          m_options(options),
          m_writer(writer),
          m_buffer(new char[kReadChunk]),
          m_lastProgress(std::chrono::steady_clock::now()) {}

    bool EnterDirectory(const fs::Dir&, const fs::NativeString& relative,
                        const fs::DirEntry& entry) override {
        ++m_folders;
        if (m_broken) return true;
        auto name = EntryName(relative);
        if (!name) {
            Fail(relative, "名称无法转换为 UTF-8");
            return true;
        }
        if (!m_writer.AddDirectory(*name + "/", entry.facts.mtime)) WriterFailed(relative);
        return true;
    }

    void File(const fs::Dir& parent, const fs::DirEntry& entry, const fs::NativeString& relative) override {
        fs::File in;
        if (auto why = OpenSourceFile(m_options, parent, entry.name, relative, in))
            return Fail(relative, *why);
        // After the first fault the archive will not be kept; the rest is only checked for readability,
        // so that the log names every file that needs attention.
        if (m_broken) return;
        auto name = EntryName(relative);
        if (!name) return Fail(relative, "名称无法转换为 UTF-8");
        fs::Facts before;
        if (auto why = SourceFactsBefore(m_options, in, relative, before)) return Fail(relative, *why);
        if (!m_writer.BeginFile(*name, before.mtime, before.size)) return WriterFailed(relative);
        uint64_t done = 0;
        while (done < before.size) {
            size_t got = 0;
            const size_t want = size_t(std::min<uint64_t>(kReadChunk, before.size - done));
            if (fs::Status s = in.ReadAt(done, m_buffer.get(), want, got); !s)
                return Fail(relative, ReasonText(s));
            if (got == 0) return Fail(relative, "文件在备份过程中变短");
            if (!m_writer.Write(m_buffer.get(), got)) return WriterFailed(relative);
            done += got;
            m_bytes += got;
            Progress();
        }
        if (const char* changed = ChangedWhileRead(in, before)) return Fail(relative, changed);
        if (!m_writer.EndFile()) return WriterFailed(relative);
        ++m_files;
        Progress();
    }

    void Failure(const fs::NativeString& relative, const fs::Status& status) override {
        Fail(relative, "无法读取目录：" + ReasonText(status));
    }
    void TooDeep(const fs::NativeString& relative) override {
        Fail(relative, "目录层级超过 " + Decimal(kMaxTreeDepth) + " 层");
    }
    bool Stop() override { return CheckCancelled() || m_writeFailed; }

    bool WriteFailed() const { return m_writeFailed; }
    uint64_t Failures() const { return m_failures; }
    uint64_t Files() const { return m_files; }
    uint64_t Folders() const { return m_folders; }
    uint64_t Bytes() const { return m_bytes; }

  private:
    void Fail(const fs::NativeString& relative, const std::string& reason) {
        ++m_failures;
        m_broken = true;
        m_context.Log("备份失败：" + LogPath(m_root, relative) + "：" + reason);
    }
    void WriterFailed(const fs::NativeString& relative) {
        if (m_writer.SinkFailed()) {
            m_writeFailed = true;  // the archive's own disk: nothing more can be written
        } else {
            Fail(relative, "无法写入备份文件");
        }
        m_broken = true;
    }
    void Progress() {
        auto now = std::chrono::steady_clock::now();
        if (now - m_lastProgress < std::chrono::seconds(m_options.progressSeconds)) return;
        m_lastProgress = now;
        m_context.Log(ManualProgressLine({ManualOperation::Backup, m_files, m_bytes}));
    }

    const RunnerOptions& m_options;
    zip::ZipWriter& m_writer;
    std::unique_ptr<char[]> m_buffer;
    std::chrono::steady_clock::time_point m_lastProgress;
    uint64_t m_files = 0, m_folders = 0, m_bytes = 0, m_failures = 0;
    bool m_broken = false;
    bool m_writeFailed = false;
};

}  // namespace

int ArchivePacker::Run(const std::string& sourceGbk, const std::string& fileGbk, RunContext& context) {
    context.LogBoundary("开始手动备份：" + sourceGbk + " 到 " + fileGbk);
    auto fail = [&](int code, const std::string& why) {
        context.LogBoundary("手动备份失败（错误代码 " + std::to_string(code) + "）：" + why);
        return code;
    };
    auto sourcePath = shared::PathFromGbk(sourceGbk);
    auto filePath = shared::PathFromGbk(fileGbk);
    if (!sourcePath || sourcePath->empty() || !sourcePath->is_absolute()) {
        return fail(KIVO_E_SOURCE_MISSING, "源目录不是有效的完整路径：" + sourceGbk);
    }
    if (!filePath || !filePath->is_absolute() || !filePath->has_filename()) {
        return fail(KIVO_E_CREATE_FAILED, "备份文件不是有效的完整路径：" + fileGbk);
    }
    fs::Dir source;
    if (fs::Status s = fs::Dir::Open(*sourcePath, source); !s) {
        const bool missing = s.error == fs::Error::NotFound || s.error == fs::Error::NotDirectory;
        return fail(missing ? KIVO_E_SOURCE_MISSING : KIVO_E_READ_FAILED,
                    "无法打开源目录 " + sourceGbk + "：" +
                        (missing ? std::string("不存在或不是目录") : ReasonText(s)));
    }
    fs::Dir folder;
    if (fs::Status s = fs::Dir::Open(filePath->parent_path(), folder); !s) {
        return fail(KIVO_E_CREATE_FAILED, "无法打开备份文件所在的目录：" + ReasonText(s));
    }
    bool inside = false;
    if (fs::Status s = folder.IsWithin(source, inside); !s) {
        return fail(KIVO_E_CREATE_FAILED, "无法确定备份文件所在的目录：" + ReasonText(s));
    }
    if (inside) return fail(KIVO_E_TARGET_IN_SOURCE, "备份文件不能放在要备份的目录之内：" + fileGbk);
    const fs::NativeString name = filePath->filename().native();
    fs::Facts existing;
    if (folder.Stat(name, existing) && existing.kind == fs::Kind::Directory) {
        return fail(KIVO_E_CREATE_FAILED, "备份文件的路径是一个目录：" + fileGbk);
    }

    fs::File temp;
    fs::NativeString tempName;
    fs::Status s{fs::Error::Exists, 0};
    for (int n = 1; n <= 100 && s.error == fs::Error::Exists; ++n) {
        std::string suffix = ".";
        suffix += std::to_string(fs::ProcessId());
        suffix += '-';
        suffix += std::to_string(n);
        suffix += ".tmp";
        tempName = name + fs::NativeFromAscii(suffix);
        s = folder.CreateFile(tempName, temp);
    }
    if (!s) return fail(KIVO_E_CREATE_FAILED, "无法创建临时文件：" + ReasonText(s));
    fs::Facts tempFacts;
    temp.GetFacts(tempFacts);
    auto discard = [&](int code, const std::string& why) {
        temp.Close();
        folder.DeleteFile(tempName);
        return fail(code, why);
    };

    FileSink sink(temp);
    zip::ZipWriter writer(sink);
    PackVisitor visitor(context, m_options, sourceGbk, writer);
    WalkTree(source, visitor, {tempFacts.id});
    if (visitor.Cancelled()) return discard(KIVO_E_CANCELLED, "任务引擎正在关闭，已删除未完成的备份文件");
    if (visitor.WriteFailed())
        return discard(KIVO_E_WRITE_FAILED, "写入备份文件失败：" + ReasonText(sink.LastStatus()));
    if (visitor.Failures()) {
        return discard(KIVO_E_READ_FAILED,
                       "有 " + Decimal(visitor.Failures()) + " 个文件或目录未能备份，未生成备份文件");
    }
    if (!writer.Finish())
        return discard(KIVO_E_WRITE_FAILED, "写入备份文件失败：" + ReasonText(sink.LastStatus()));
    if (fs::Status f = temp.Sync(); !f)
        return discard(KIVO_E_WRITE_FAILED, "写入备份文件失败：" + ReasonText(f));
    temp.Close();
    if (fs::Status r = folder.Rename(tempName, folder, name, true); !r) {
        folder.DeleteFile(tempName);
        return fail(KIVO_E_CREATE_FAILED, "无法把临时文件改名为 " + fileGbk + "：" + ReasonText(r));
    }
    context.LogBoundary("手动备份完成：" + fileGbk + "，文件 " + Decimal(visitor.Files()) + " 个，目录 " +
                        Decimal(visitor.Folders()) + " 个，共 " + Decimal(visitor.Bytes()) +
                        " 字节，备份文件 " + Decimal(writer.BytesWritten()) + " 字节");
    return KIVO_OK;
}

}  // namespace kivo
