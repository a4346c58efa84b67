#include <exception>

#include "archive_packer.h"
#include "archive_restorer.h"
#include "backup_set_runner.h"
#include "backup_set_verifier.h"
#include "cleaner.h"
#include "engine_api.h"
#include "runner_options.h"

namespace kivo {
namespace {

class FileTaskRunner final : public TaskRunner {
  public:
    explicit FileTaskRunner(RunnerOptions options) : m_options(std::move(options)) {}

    // Out of memory is the one exception the file work can raise; it becomes a failed run, never a
    // crash of the engine thread.
    RunReport RunClear(const ClearRule& rule, RunContext& context) override {
        try {
            return Cleaner(m_options).Run(rule, context);
        } catch (const std::exception&) {
            return {RunOutcome::Failed, "内存不足，清理中止"};
        }
    }
    RunReport RunBackup(const BackupRule& rule, RunContext& context) override {
        try {
            return BackupSetRunner(m_options).Run(rule, context);
        } catch (const std::exception&) {
            return {RunOutcome::Failed, "内存不足，备份中止"};
        }
    }
    RunReport VerifyBackup(const BackupRule& rule, RunContext& context) override {
        try {
            return BackupSetVerifier(m_options).Run(rule, context);
        } catch (const std::exception&) {
            return {RunOutcome::Failed, "内存不足，校验中止"};
        }
    }
    int Backup(const std::string& source, const std::string& file, RunContext& context) override {
        try {
            return ArchivePacker(m_options).Run(source, file, context);
        } catch (const std::exception&) {
            context.LogBoundary("手动备份失败：内存不足");
            return KIVO_E_INTERNAL;
        }
    }
    int Restore(const std::string& file, const std::string& target, RunContext& context) override {
        try {
            return ArchiveRestorer(m_options).Run(file, target, context);
        } catch (const std::exception&) {
            context.LogBoundary("还原失败：内存不足");
            return KIVO_E_INTERNAL;
        }
    }

    int PreviewClear(const ClearRule& rule, RunContext& context, CleanListing& listing,
                     CleanPreview& preview) override {
        struct Utf16Listing final : CleanFileListing {
            explicit Utf16Listing(CleanListing& to) : m_to(to) {}
            void File(const fs::NativeString& relative, uint64_t size, int64_t mtime) override {
                fs::Utf16FromNative(relative, m_path);
                m_to.File(m_path, size, mtime);
            }
            CleanListing& m_to;
            std::u16string m_path;  // reused: a preview may list millions
        } utf16(listing);
        try {
            return Cleaner(m_options).Preview(rule, context, utf16, preview);
        } catch (const std::exception&) {
            preview.reason = "内存不足，预览中止";
            return KIVO_E_INTERNAL;
        }
    }

  private:
    RunnerOptions m_options;
};

}  // namespace

std::unique_ptr<TaskRunner> MakeFileTaskRunner(RunnerOptions options) {
    return std::make_unique<FileTaskRunner>(std::move(options));
}

}  // namespace kivo
