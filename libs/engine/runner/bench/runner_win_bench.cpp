// A first backup set of 5,000 small files through the Windows code path, under Wine, against Wine's
// own `xcopy /E /I /K` of the same tree (both pay Wine's cost per file), in one run:
//   - the runner as it ships: copies flushed by worker threads, waited for before the rename;
//   - the same with each copy flushed before the next is copied (flushWorkers = 0);
//   - a second set of the unchanged tree, which links every file.
// Each figure is the best of KIVO_BENCH_RUNS runs (default 3). Environment:
//   KIVO_BENCH_DIR    where the trees are made (a POSIX path such as /dev/shm, or a Windows one)
//   KIVO_BENCH_FILES  number of small files (default 5000)
//   KIVO_BENCH_WORKERS  further flush-worker counts to compare, comma-separated (default "1,2,8,16")
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "engine_api.h"
#include "runner_options.h"
#include "shared_files.h"

namespace {

using kivo::bench::BenchContext;
using kivo::bench::EnvNumber;
using kivo::bench::Row;
using kivo::bench::Rule;
using kivo::bench::Seconds;

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

// The bench folder: KIVO_BENCH_DIR (a POSIX path is reached through Wine's Z: drive) or %TEMP%.
std::wstring BaseFolder() {
    std::wstring base;
    if (const char* dir = std::getenv("KIVO_BENCH_DIR"); dir && *dir) {
        base = Widen(dir);
        if (base.front() == L'/') base = L"Z:" + base;
        std::replace(base.begin(), base.end(), L'/', L'\\');
    } else {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        base = temp;
    }
    if (base.back() != L'\\') base += L'\\';
    return base + L"kivo-runner-win-bench-" + std::to_wstring(GetCurrentProcessId());
}

// The same layout and sizes as the native bench's small-file tree.
void MakeSmallTree(const std::wstring& root, long files) {
    CreateDirectoryW(root.c_str(), nullptr);
    std::string content;
    for (long i = 0; i < files; ++i) {
        const std::wstring top = root + L"\\d" + std::to_wstring(i / 200),
                           dir = top + L"\\e" + std::to_wstring(i % 5);
        if (i % 200 < 5) {
            CreateDirectoryW(top.c_str(), nullptr);
            CreateDirectoryW(dir.c_str(), nullptr);
        }
        content.assign(size_t(1000 + (i * 37) % 7000), char('a' + i % 26));
        HANDLE h = CreateFileW((dir + L"\\f" + std::to_wstring(i) + L".txt").c_str(), GENERIC_WRITE, 0,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD done = 0;
        WriteFile(h, content.data(), DWORD(content.size()), &done, nullptr);
        CloseHandle(h);
    }
}

bool Run(const std::wstring& program, std::wstring line) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    si.hStdOutput = si.hStdError =
        CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return false;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(si.hStdOutput);
    return code == 0;
}

// Kilobytes of the host's page cache still waiting to be written, read from Wine's Z: drive; -1 where
// there is no such file (not under Wine).
long UnwrittenKb() {
    HANDLE h =
        CreateFileW(L"Z:\\proc\\meminfo", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return -1;
    std::string text(8192, '\0');
    DWORD got = 0;
    ReadFile(h, text.data(), DWORD(text.size()), &got, nullptr);
    CloseHandle(h);
    text.resize(got);
    long total = 0;
    for (const char* key : {"\nDirty:", "\nWriteback:"}) {
        const size_t at = text.find(key);
        if (at != std::string::npos) total += std::strtol(text.c_str() + at + std::strlen(key), nullptr, 10);
    }
    return total;
}

// Every run starts with nothing of an earlier run's still to be written, as the native bench's sync():
// the host's sync is started (Wine runs POSIX programs but cannot wait for them), then awaited.
void Settle() {
    if (UnwrittenKb() < 0) return;
    Run(L"Z:\\bin\\sync", L"sync");
    for (int i = 0; i < 600 && UnwrittenKb() > 1024; ++i) Sleep(50);
}

}  // namespace

int main() {
    const int runs = int(EnvNumber("KIVO_BENCH_RUNS", 3));
    const long files = EnvNumber("KIVO_BENCH_FILES", 5000);
    const std::wstring base = BaseFolder(), source = base + L"\\small", out = base + L"\\out";
    CreateDirectoryW(base.c_str(), nullptr);
    CreateDirectoryW(out.c_str(), nullptr);
    MakeSmallTree(source, files);
    std::printf("%ld small files under Wine; best of %d runs\n", files, runs);
    BenchContext context;
    int serial = 0;
    auto fresh = [&](const wchar_t* what) { return out + L"\\" + what + std::to_wstring(++serial); };
    auto set = [&](const kivo::RunnerOptions& options, const std::wstring& backup) {
        if (kivo::MakeFileTaskRunner(options)->RunBackup(Rule(source, backup), context).outcome !=
            kivo::RunOutcome::Succeeded) {
            std::fprintf(stderr, "backup set failed: %s\n",
                         context.lines.empty() ? "" : context.lines.back().c_str());
            std::exit(1);
        }
    };

    // The variants take turns within each round, so that the disk's moods fall on all of them alike;
    // every run writes to a fresh folder, so that no tool pays for another's clean-up.
    struct Variant {
        std::string label;
        std::function<void()> run;
        double best = 1e30;
    };
    std::vector<Variant> variants;
    const std::wstring xcopy = L"C:\\windows\\system32\\xcopy.exe";
    variants.push_back(
        {"xcopy /E /I /K", [&] {
             if (!Run(xcopy, L"xcopy \"" + source + L"\" \"" + fresh(L"xcopy") + L"\" /E /I /K /Q")) {
                 std::fprintf(stderr, "xcopy failed\n");
                 std::exit(1);
             }
         }});
    const kivo::RunnerOptions shipped;
    auto withWorkers = [&](int workers) {
        kivo::RunnerOptions options = shipped;
        options.flushWorkers = workers;
        return options;
    };
    std::vector<kivo::RunnerOptions> options = {shipped, withWorkers(0)};
    variants.push_back({"first set, " + std::to_string(shipped.flushWorkers) + " flush workers (as shipped)",
                        [&] { set(options[0], fresh(L"sets")); }});
    variants.push_back(
        {"first set, each file flushed before the next", [&] { set(options[1], fresh(L"sets")); }});
    const char* workers = std::getenv("KIVO_BENCH_WORKERS");
    for (std::string list = workers && *workers ? workers : "1,2,8,16"; !list.empty();) {
        const size_t comma = list.find(',');
        options.push_back(withWorkers(std::atoi(list.substr(0, comma).c_str())));
        list = comma == std::string::npos ? std::string() : list.substr(comma + 1);
    }
    for (size_t i = 2; i < options.size(); ++i) {
        variants.push_back({"first set, " + std::to_string(options[i].flushWorkers) + " flush workers",
                            [&, i] { set(options[i], fresh(L"sets")); }});
    }
    const std::wstring history = fresh(L"history");
    set(shipped, history);
    variants.push_back({"second set, unchanged tree (links)", [&] { set(shipped, history); }});
    for (int round = 0; round < runs; ++round) {
        for (Variant& v : variants) {
            Settle();
            v.best = std::min(v.best, Seconds(v.run));
        }
    }
    for (size_t i = 1; i < variants.size(); ++i)
        Row(variants[i].label.c_str(), "xcopy /E /I /K", variants[i].best, variants[0].best);

    // Wine's own rmdir removes the trees; it reaches the POSIX folder and does not follow links.
    Run(L"C:\\windows\\system32\\cmd.exe", L"cmd /c rmdir /s /q \"" + base + L"\"");
    return 0;
}
