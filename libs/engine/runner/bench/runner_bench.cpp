// Benchmarks of the file runner against the tools an operator would otherwise use, in one run:
//   a backup set of 20,000 small files vs cp -a, of one big file vs cp;
//   a second set of the unchanged small-file tree, and one after 1% of its files changed, vs cp -a,
//   vs cp -al of the set before (the bare cost of linking) and vs rsync -a --link-dest (what an
//   operator would script), and the disk space the second set takes beside the first (du of both);
//   a check of a set of the small files (kivo_verify_backup) vs cat of the same files;
//   a clean of 100,000 aged files vs find -mtime +N -delete, and with the run history on vs off;
//   the preview of that clean (the list it would delete) vs find -mtime +N listing the same tree;
//   .bkp pack and restore vs zip -r and unzip, on the small-file tree.
// Each figure is the best of KIVO_BENCH_RUNS runs (default 3). Environment:
//   KIVO_BENCH_ONLY    "preview": the preview bench alone
//   KIVO_BENCH_DIR     where the trees are made (default: the system's temporary folder)
//   KIVO_BENCH_BIG_MB  size of the big file in MiB (default 1024)
//   KIVO_BENCH_FILES   number of small files (default 20000); KIVO_BENCH_CLEAN_FILES (default 100000)
// The runner makes every backup durable before it names it complete (syncfs); cp does not, so the
// "cp + sync" column shows the same work done by the tools.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "clock.h"
#include "engine_api.h"
#include "history_writer.h"
#include "runner_options.h"
#include "shared_files.h"

namespace {

namespace stdfs = std::filesystem;

using kivo::bench::BenchContext;
using kivo::bench::EnvNumber;
using kivo::bench::Row;
using kivo::bench::Rule;
using kivo::bench::Seconds;

// A run's lines as the engine keeps them: every line and every deletion into the run history.
class HistoryContext final : public kivo::RunContext {
  public:
    explicit HistoryContext(kivo::HistoryWriter& history) : m_history(history) {}
    void Log(const std::string& line) override { m_history.Add(line, kivo::HistoryWriter::Room::Wait); }
    void Record(const std::string& line) override { m_history.Add(line, kivo::HistoryWriter::Room::Wait); }
    bool KeepsHistory() const override { return true; }
    bool Cancelled() const override { return false; }
    int64_t NowUtc() const override { return int64_t(::time(nullptr)); }

  private:
    kivo::HistoryWriter& m_history;
};

// Best of n runs; prepare (untimed) runs before each, and every run starts with nothing waiting to
// be written, so that no run pays for an earlier one's writes.
double Best(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        prepare();
        ::sync();
        best = std::min(best, Seconds(work));
    }
    return best;
}

void Shell(const std::string& command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "command failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// Appends rather than "literal" + string: GCC 12 warns falsely (-Wrestrict) on the latter at -O3.
std::string Quote(const stdfs::path& p) {
    std::string out(1, '\'');
    out += p.string();
    out += '\'';
    return out;
}

std::string Numbered(const char* prefix, long n) {
    std::string out = prefix;
    out += std::to_string(n);
    return out;
}

std::string Gbk(const stdfs::path& p) {
    return *shared::GbkFromPath(p);
}

void Remove(const stdfs::path& p) {
    std::error_code ec;
    stdfs::remove_all(p, ec);
}

// Text-like content that compresses about as well as documents do.
std::string Content(size_t n, uint32_t seed) {
    static const char* words[] = {"backup ", "plan ", "folder ", "report ", "2024 ", "data ", "log ", "kivo ",
                                  "file ",   "rule ", "clean ",  "the ",    "and ",  "of ",   "x7 ",  "\n"};
    std::string s;
    s.reserve(n + 16);
    uint32_t x = seed * 2654435761u + 1;
    while (s.size() < n) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        s += words[x % 16];
        if (x % 7 == 0) s += std::to_string(x % 100000);
    }
    s.resize(n);
    return s;
}

void MakeSmallTree(const stdfs::path& root, long files) {
    for (long i = 0; i < files; ++i) {
        const stdfs::path dir = root / Numbered("d", i / 200) / Numbered("e", i % 5);
        if (i % 200 < 5) stdfs::create_directories(dir);
        std::ofstream(dir / (Numbered("f", i) + ".txt"), std::ios::binary)
            << Content(1000 + (i * 37) % 7000, uint32_t(i));
    }
}

// Rewrites every hundredth file (a different one each round) with new content of another size.
void ChangeSome(const stdfs::path& root, long files, long round) {
    for (long i = round % 100; i < files; i += 100) {
        const stdfs::path file =
            root / Numbered("d", i / 200) / Numbered("e", i % 5) / (Numbered("f", i) + ".txt");
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            << Content(1001 + (i * 37 + round) % 7000, uint32_t(i + round * 7919));
    }
}

// The sets in a backup folder, by name.
std::vector<stdfs::path> SetsIn(const stdfs::path& backup) {
    std::vector<stdfs::path> sets;
    for (const auto& e : stdfs::directory_iterator(backup)) sets.push_back(e.path());
    std::sort(sets.begin(), sets.end());
    return sets;
}

// Bytes on disk of each folder as `du` counts them together: a file with several links counts once,
// in the first folder that holds it.
std::vector<uint64_t> DiskUse(const std::vector<stdfs::path>& folders) {
    std::string command = "du -s -B1";
    for (const stdfs::path& f : folders) {
        command += ' ';
        command += Quote(f);
    }
    std::vector<uint64_t> out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        unsigned long long bytes = 0;
        char rest[4096];
        while (std::fscanf(pipe, "%llu %4095[^\n]", &bytes, rest) == 2) out.push_back(bytes);
        ::pclose(pipe);
    }
    return out;
}

void MakeBigFile(const stdfs::path& path, long megabytes) {
    std::ofstream out(path, std::ios::binary);
    std::vector<uint64_t> block(1 << 17);  // 1 MiB
    uint64_t x = 88172645463325252ull;
    for (long m = 0; m < megabytes; ++m) {
        for (auto& v : block) x ^= x << 13, x ^= x >> 7, x ^= x << 17, v = x;
        out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 8));
    }
}

void MakeAgedTree(const stdfs::path& root, long files, int64_t mtime) {
    for (long i = 0; i < files; ++i) {
        const stdfs::path dir = root / Numbered("d", i / 1000);
        if (i % 1000 == 0) stdfs::create_directories(dir);
        const stdfs::path file = dir / Numbered("f", i);
        std::ofstream(file, std::ios::binary) << "aged";
        struct timespec times[2] = {{time_t(mtime), 0}, {time_t(mtime), 0}};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    }
}

uint64_t TreeBytes(const stdfs::path& root) {
    uint64_t total = 0;
    for (const auto& e : stdfs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) total += e.file_size();
    }
    return total;
}

// Lists a tree the way the preview dialog does: every path kept, as UTF-16.
class KeptListing final : public kivo::CleanListing {
  public:
    void File(std::u16string_view relative, uint64_t size, int64_t) override {
        paths.emplace_back(relative);
        bytes += size;
    }
    std::vector<std::u16string> paths;
    uint64_t bytes = 0;
};

// The preview of a clean of aged files against find listing the same files; one tree for both, and
// neither changes it. keep_days 10 against -mtime +10 on files 30 days old: every file qualifies.
void BenchPreview(const stdfs::path& base, int runs, long files) {
    const stdfs::path aged = base / "preview";
    MakeAgedTree(aged, files, int64_t(::time(nullptr)) - 30 * 86400);
    ClearRule clean{};
    clean.rule_id = 3;
    clean.enabled = 1;
    clean.keep_days = 10;
    WriteField(clean.description, "bench");
    WriteField(clean.path, Gbk(aged));
    auto runner = kivo::MakeFileTaskRunner();
    BenchContext context;
    size_t listed = 0;
    const double previewTime = Best(
        runs, [] {},
        [&] {
            KeptListing listing;
            kivo::CleanPreview preview;
            if (runner->PreviewClear(clean, context, listing, preview) != KIVO_OK) {
                std::fprintf(stderr, "preview failed: %s\n", preview.reason.c_str());
                std::exit(1);
            }
            listed = listing.paths.size();
        });
    const double findTime =
        Best(runs, [] {}, [&] { Shell("find " + Quote(aged) + " -type f -mtime +10 > /dev/null"); });
    std::printf("%zu of %ld files listed\n", listed, files);
    Row("preview of a clean, aged files", "find -mtime", previewTime, findTime);
    Remove(aged);
}

}  // namespace

int main() {
    const stdfs::path base =
        stdfs::path(std::getenv("KIVO_BENCH_DIR") ? std::getenv("KIVO_BENCH_DIR")
                                                  : stdfs::temp_directory_path().string()) /
        Numbered("kivo-runner-bench-", long(::getpid()));
    const int runs = int(EnvNumber("KIVO_BENCH_RUNS", 3));
    const long smallFiles = EnvNumber("KIVO_BENCH_FILES", 20000);
    const long bigMb = EnvNumber("KIVO_BENCH_BIG_MB", 1024);
    const long cleanFiles = EnvNumber("KIVO_BENCH_CLEAN_FILES", 100000);
    stdfs::create_directories(base);
    if (const char* only = std::getenv("KIVO_BENCH_ONLY"); only && std::string(only) == "preview") {
        BenchPreview(base, runs, cleanFiles);
        Remove(base);
        return 0;
    }
    auto runner = kivo::MakeFileTaskRunner();
    BenchContext context;
    auto expect = [&](bool ok, const char* what) {
        if (ok) return;
        std::fprintf(stderr, "%s failed: %s\n", what,
                     context.lines.empty() ? "" : context.lines.back().c_str());
        std::exit(1);
    };

    // Small files: a backup set, then .bkp pack and restore. Every run writes to a fresh folder and
    // the copies are removed only at the end: ext4 is slow to hand out inodes it freed moments ago,
    // which would charge one tool for the other's clean-up.
    const stdfs::path small = base / "small";
    MakeSmallTree(small, smallFiles);
    const uint64_t smallBytes = TreeBytes(small);
    std::printf("%ld small files, %.1f MB; best of %d runs\n", smallFiles, smallBytes / 1e6, runs);
    const stdfs::path out = base / "out";
    stdfs::create_directories(out);
    int serial = 0;
    auto fresh = [&](const char* what) { return out / Numbered(what, ++serial); };
    const double setTime = Best(
        runs, [] {},
        [&] {
            expect(
                runner->RunBackup(Rule(small, fresh("sets")), context).outcome == kivo::RunOutcome::Succeeded,
                "backup set");
        });
    const double cpTime = Best(
        runs, [] {}, [&] { Shell("cp -a " + Quote(small) + " " + Quote(fresh("copy"))); });
    const double cpSyncTime = Best(
        runs, [] {}, [&] { Shell("cp -a " + Quote(small) + " " + Quote(fresh("copy")) + " && sync"); });
    Row("backup set, small files", "cp -a", setTime, cpTime);
    Row("backup set, small files", "cp -a && sync", setTime, cpSyncTime);

    // One rule's sets in one folder: each links what is unchanged since the one before.
    const stdfs::path history = fresh("history");
    auto nextSet = [&] {
        expect(runner->RunBackup(Rule(small, history), context).outcome == kivo::RunOutcome::Succeeded,
               "linked set");
    };
    nextSet();
    const double secondTime = Best(
        runs, [] {}, nextSet);
    long round = 0;
    const double changedTime = Best(
        runs, [&] { ChangeSome(small, smallFiles, ++round); }, nextSet);
    const std::vector<stdfs::path> taken = SetsIn(history);
    // The tools' own repeat sets, each linked to the newest set (whatever it holds, they link the same
    // files: the source changed in none since then).
    const stdfs::path newest = taken.back() / small.filename();
    const double cpLinkTime = Best(
        runs, [] {}, [&] { Shell("cp -al " + Quote(newest) + " " + Quote(fresh("cp-al"))); });
    const double rsyncTime = Best(
        runs, [] {},
        [&] {
            Shell("rsync -a --link-dest=" + Quote(newest) + " " + Quote(small) + "/ " +
                  Quote(fresh("rsync")));
        });
    Row("second set, unchanged small files", "cp -a", secondTime, cpTime);
    Row("second set, unchanged small files", "cp -al", secondTime, cpLinkTime);
    Row("second set, unchanged small files", "rsync --link-dest", secondTime, rsyncTime);
    Row("set after 1% of the small files changed", "cp -a", changedTime, cpTime);
    const std::vector<uint64_t> use = DiskUse({taken[0], taken[1]});
    if (use.size() == 2) {
        std::printf("%-44s kivo %8.1f MB     first set      %8.1f MB     ratio %5.3f\n",
                    "  disk space of the second set (du of both)", use[1] / 1e6, use[0] / 1e6,
                    double(use[1]) / double(use[0]));
    }

    // A check of one set against its manifest, against reading the same files with cat.
    const stdfs::path checked = fresh("checked");
    expect(runner->RunBackup(Rule(small, checked), context).outcome == kivo::RunOutcome::Succeeded, "set");
    const double verifyTime = Best(
        runs, [] {},
        [&] {
            expect(runner->VerifyBackup(Rule(small, checked), context).outcome == kivo::RunOutcome::Succeeded,
                   "verify");
        });
    const double catTime = Best(
        runs, [] {},
        [&] {
            Shell("find " + Quote(checked) + " -type f ! -name '.kivo-*' -print0 | xargs -0 cat > /dev/null");
        });
    Row("verify a set of the small files", "cat", verifyTime, catTime);

    const stdfs::path bkp = base / "small.bkp", zipFile = base / "small.zip";
    const double packTime = Best(
        runs, [&] { Remove(bkp); },
        [&] { expect(runner->Backup(Gbk(small), Gbk(bkp), context) == KIVO_OK, "pack"); });
    const double zipTime = Best(
        runs, [&] { Remove(zipFile); },
        [&] { Shell("cd " + Quote(small) + " && zip -qr " + Quote(zipFile) + " ."); });
    Row(".bkp pack, small files", "zip -r", packTime, zipTime);
    std::printf("%-44s kivo %8.1f MB     zip            %8.1f MB\n", "  archive size",
                stdfs::file_size(bkp) / 1e6, stdfs::file_size(zipFile) / 1e6);
    const double restoreTime = Best(
        runs, [] {},
        [&] { expect(runner->Restore(Gbk(bkp), Gbk(fresh("restored")), context) == KIVO_OK, "restore"); });
    const double unzipTime = Best(
        runs, [] {}, [&] { Shell("unzip -qo " + Quote(zipFile) + " -d " + Quote(fresh("unzipped"))); });
    const double unzipSyncTime = Best(
        runs, [] {},
        [&] { Shell("unzip -qo " + Quote(zipFile) + " -d " + Quote(fresh("unzipped")) + " && sync"); });
    Row(".bkp restore, small files", "unzip", restoreTime, unzipTime);
    Row(".bkp restore, small files", "unzip && sync", restoreTime, unzipSyncTime);
    Remove(out), Remove(bkp), Remove(zipFile), Remove(small);
    const stdfs::path sets = base / "sets";

    // One big file.
    const stdfs::path bigSource = base / "big-src", bigFile = bigSource / "big.bin";
    stdfs::create_directories(bigSource);
    MakeBigFile(bigFile, bigMb);
    std::printf("one file of %ld MiB\n", bigMb);
    const stdfs::path bigCopy = base / "big.copy";
    const double bigSetTime = Best(
        runs, [&] { Remove(sets); },
        [&] {
            expect(runner->RunBackup(Rule(bigFile, sets), context).outcome == kivo::RunOutcome::Succeeded,
                   "big backup");
        });
    const double bigCpTime = Best(
        runs, [&] { Remove(bigCopy); }, [&] { Shell("cp " + Quote(bigFile) + " " + Quote(bigCopy)); });
    const double bigCpSyncTime = Best(
        runs, [&] { Remove(bigCopy); },
        [&] { Shell("cp " + Quote(bigFile) + " " + Quote(bigCopy) + " && sync"); });
    Row("backup set, one big file", "cp", bigSetTime, bigCpTime);
    Row("backup set, one big file", "cp && sync", bigSetTime, bigCpSyncTime);
    Remove(sets), Remove(bigCopy), Remove(bigSource);

    BenchPreview(base, runs, cleanFiles);

    // Cleaning aged files.
    const stdfs::path aged = base / "aged";
    const int64_t old = int64_t(::time(nullptr)) - 30 * 86400;
    std::printf("%ld files aged 30 days\n", cleanFiles);
    ClearRule clean{};
    clean.rule_id = 2;
    clean.enabled = 1;
    clean.keep_days = 10;
    WriteField(clean.description, "bench");
    const double cleanTime = Best(
        runs,
        [&] {
            Remove(aged);
            MakeAgedTree(aged, cleanFiles, old);
            WriteField(clean.path, Gbk(aged));
        },
        [&] {
            auto report = runner->RunClear(clean, context);
            expect(report.outcome == kivo::RunOutcome::Succeeded, "clean");
        });
    const double findTime = Best(
        runs,
        [&] {
            Remove(aged);
            MakeAgedTree(aged, cleanFiles, old);
        },
        [&] { Shell("find " + Quote(aged) + " -type f -mtime +10 -delete"); });
    Row("clean, aged files", "find -delete", cleanTime, findTime);

    // The same clean with its run history written (one line per deleted file), against none; the
    // runs alternate, so that both meet the same disk. The run ends when its lines are written out,
    // as in the engine; making them durable follows (the writer's Stop), timed apart.
    const stdfs::path logs = base / "logs";
    auto clock = kivo::MakeSystemClock();
    double historyOff = 1e30, historyOn = 1e30, historySync = 1e30;
    uint64_t historyBytes = 0;
    for (int i = 0; i < runs; ++i) {
        Remove(aged);
        MakeAgedTree(aged, cleanFiles, old);
        ::sync();
        historyOff = std::min(historyOff, Seconds([&] {
            expect(runner->RunClear(clean, context).outcome == kivo::RunOutcome::Succeeded, "clean");
        }));
        Remove(aged), Remove(logs);
        MakeAgedTree(aged, cleanFiles, old);
        ::sync();
        kivo::HistoryWriter::Options options;
        options.folder = logs;
        options.clock = clock;
        kivo::HistoryWriter history(options);
        history.Start();
        HistoryContext recorded(history);
        historyOn = std::min(historyOn, Seconds([&] {
            expect(runner->RunClear(clean, recorded).outcome == kivo::RunOutcome::Succeeded, "clean");
            history.Flush();
        }));
        historySync = std::min(historySync, Seconds([&] { history.Stop(); }));
        historyBytes = 0;
        for (const auto& e : stdfs::directory_iterator(logs)) historyBytes += e.file_size();
    }
    Row("clean, aged files, run history on", "history off", historyOn, historyOff);
    std::printf("%-44s %.1f MB written; made durable afterwards in %.3f s\n", "  run history", historyBytes / 1e6,
                historySync);
    Remove(aged), Remove(logs);
    Remove(base);
    return 0;
}
