// Peak memory of the process for backup sets of a tree of many small files (default 1,000,000,
// empty: the manifest's cost is per file, not per byte). Each set runs in a child process of its own,
// which reports its peak resident size: the first set (a manifest built and written), and the second
// (the first's manifest read and held while the new one is built, compared with it and linked).
// Environment: KIVO_BENCH_DIR (default: the system's temporary folder; /dev/shm keeps the disk out of
// it), KIVO_BENCH_MANIFEST_FILES.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "bench_support.h"
#include "runner_options.h"

namespace {

namespace stdfs = std::filesystem;

// Appends rather than "literal" + string: GCC 12 warns falsely (-Wrestrict) on the latter at -O3.
std::string Numbered(const char* prefix, long n, const char* suffix = "") {
    std::string out = prefix;
    out += std::to_string(n);
    out += suffix;
    return out;
}

// Runs one set in a child; its peak resident size in MB, and the seconds it took.
bool SetInChild(const stdfs::path& source, const stdfs::path& backup, double& megabytes, double& seconds) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return false;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        kivo::bench::BenchContext context;
        bool ok = false;
        const double took = kivo::bench::Seconds([&] {
            ok = kivo::MakeFileTaskRunner()->RunBackup(kivo::bench::Rule(source, backup), context).outcome ==
                 kivo::RunOutcome::Succeeded;
        });
        struct rusage usage {};
        ::getrusage(RUSAGE_SELF, &usage);
        const double report[2] = {ok ? usage.ru_maxrss / 1024.0 : -1, took};
        if (::write(pipeFds[1], report, sizeof report) != ssize_t(sizeof report)) ::_exit(2);
        ::_exit(ok ? 0 : 1);
    }
    ::close(pipeFds[1]);
    double report[2] = {-1, 0};
    const bool read = ::read(pipeFds[0], report, sizeof report) == ssize_t(sizeof report);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    megabytes = report[0];
    seconds = report[1];
    return read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
    const char* dir = std::getenv("KIVO_BENCH_DIR");
    const stdfs::path base = stdfs::path(dir ? dir : stdfs::temp_directory_path().string()) /
                             Numbered("kivo-manifest-bench-", long(::getpid()));
    const long files = kivo::bench::EnvNumber("KIVO_BENCH_MANIFEST_FILES", 1000000);
    const stdfs::path source = base / "documents", backup = base / "sets";
    for (long i = 0; i < files; ++i) {
        const stdfs::path folder = source / Numbered("d", i / 1000);
        if (i % 1000 == 0) stdfs::create_directories(folder);
        std::ofstream(folder / Numbered("report-", i, ".txt"));
    }
    std::printf("%ld empty files in %ld folders\n", files, (files + 999) / 1000);
    for (const char* which : {"first set (all copied)", "second set (all linked)"}) {
        double megabytes = 0, seconds = 0;
        if (!SetInChild(source, backup, megabytes, seconds)) {
            std::fprintf(stderr, "%s failed\n", which);
            return 1;
        }
        std::printf("%-28s peak resident %7.1f MB   %7.2f s\n", which, megabytes, seconds);
    }
    std::error_code ec;
    stdfs::remove_all(base, ec);
    return 0;
}
