// Shared pieces of the runner tests: a run context that records, scratch folders, small file helpers,
// and a raw ZIP builder for archives no honest writer would make.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "gbk_to_utf8.h"
#include "history_text.h"
#include "rule_records.h"
#include "runner_options.h"
#include "task_runner.h"

namespace kivo::test {

class RecordingContext final : public RunContext {
  public:
    void Log(const std::string& line) override {
        lines.push_back(HistoryText::ScreenText(line));
        Keep(line);
    }
    void LogBoundary(const std::string& line) override {
        boundaries.push_back(HistoryText::ScreenText(line));
        Log(line);
    }
    void Record(const std::string& line) override {
        records.push_back(HistoryText::ScreenText(line));
        Keep(line);
    }
    bool KeepsHistory() const override { return true; }
    bool Cancelled() const override { return cancelAfterChecks >= 0 && ++checks > cancelAfterChecks; }
    int64_t NowUtc() const override { return now; }
    std::string Installation() const override { return installation; }

    // Lines that contain the text.
    std::vector<std::string> Matching(std::string_view text) const;

    std::vector<std::string> lines;       // as the screen shows them, in GBK
    std::vector<std::string> records;     // the run history's own lines, in GBK
    std::vector<std::string> history;     // both, as the run history writes them (UTF-8, names exact)
    std::vector<std::string> boundaries;  // the lines among `lines` that begin or end a manual call
    int64_t now = 1700000000;             // 2023-11-14 22:13:20 UTC
    std::string installation;             // none: as before installations had identities
    int cancelAfterChecks = -1;
    mutable int checks = 0;

  private:
    void Keep(const std::string& line) {
        history.emplace_back();
        m_utf8.Append(history.back(), line);
    }
    GbkToUtf8 m_utf8;
};

// A fresh folder under the system's temporary folder, removed with everything in it afterwards.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(std::string_view relative) const;

  private:
    std::filesystem::path m_path;
};

// Civil time of a UTC instant: a fixed zone, so that tests do not depend on the machine's.
fs::CivilTime UtcCivil(int64_t utc);
// Runner options that read local time as UTC, with a volume clock of no step (FactsSettled).
RunnerOptions UtcOptions();

// UTF-8 text of a u8 literal.
std::string U8(std::u8string_view text);
// GBK text of a path, for a rule field or an API argument.
std::string Gbk(const std::filesystem::path& path);

void WriteFile(const std::filesystem::path& path, std::string_view content);
std::string ReadFile(const std::filesystem::path& path);
void SetMtime(const std::filesystem::path& path, int64_t mtime);
int64_t Mtime(const std::filesystem::path& path);

// Every file and folder below root (links as "-> target"), with file contents: compares trees exactly.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root);

ClearRule MakeClearRule(const std::filesystem::path& folder);
BackupRule MakeBackupRule(int32_t id, const std::filesystem::path& source,
                          const std::filesystem::path& backup);

// Runs a shell command; its exit status.
int Shell(const std::string& command);

// A ZIP archive built entry by entry, with nothing checked: for hostile and peer-like archives.
struct RawEntry {
    std::string name;
    std::string data;
    uint16_t madeBy = (3 << 8) | 20;
    uint32_t externalAttributes = 0100644u << 16;
    uint16_t flags = 0x0800;
    bool deflate = false;
    size_t alignTo = 0;       // zero bytes before the local header so that the data starts on such an offset
    size_t localPadding = 0;  // zero bytes of extra field in the local header, as aligning tools add
};
std::string BuildRawZip(const std::vector<RawEntry>& entries, std::string_view comment = {});

}  // namespace kivo::test
