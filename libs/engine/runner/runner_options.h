// What tests and benchmarks may replace in the file runner: the free-space probe, local time, the
// fault seam and how a backup set's copies are flushed. The defaults are the real ones.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "file_system.h"
#include "task_runner.h"

namespace kivo {

struct RunnerOptions {
    // Free space of the volume that holds the folder.
    std::function<fs::Status(const fs::Dir&, uint64_t& available, uint64_t& total)> freeSpace =
        [](const fs::Dir& dir, uint64_t& available, uint64_t& total) {
            return dir.FreeSpace(available, total);
        };
    // Local civil time of a UTC instant, in the system's time zone.
    std::function<fs::CivilTime(int64_t)> localTime = fs::LocalFromUtc;
    // The least number of seconds between two progress lines of a manual backup or restore
    // (files and bytes done), so that a long call shows it is alive without flooding the log.
    int progressSeconds = 2;

    // Test seam for faults a test cannot cause for real (a locked file on POSIX, a file that changes
    // while it is read, a volume without hard links): called at these points with the path below the
    // run's root. A failed status is taken as the operation's own failure; a test may also change the
    // file and return success. Flush is called on a flush worker's thread. DeleteFile is also asked for
    // each file of a backup set being removed (the path below the set), and FinishSet before each try to
    // give a finished set its complete name (the set's name).
    enum class Seam { OpenSource, SourceOpened, CreateCopy, DeleteFile, Link, Flush, FinishSet };
    std::function<fs::Status(Seam, const fs::NativeString& relative)> seam;

    // How a backup set's copies reach the disk before the set is named complete: each file flushed on
    // its own by flushWorkers threads, so that copying never waits for a flush (0: each file before
    // the next is copied), or one SyncVolume for all. Windows always flushes each file
    // (fs::kFlushEachFile); this asks for it also where one SyncVolume would do.
    bool flushEachFile = false;
    int flushWorkers = 4;

    // How long a finished set's rename to its complete name is tried again while it fails.
    std::chrono::milliseconds renameRetry{3000};
    // The step in which the source's volume records file times (fs::Dir::TimeGranularity), which
    // decides whether a file's facts were settled when it was copied (FactsSettled).
    std::function<int64_t(const fs::Dir& source)> timeGranularity = [](const fs::Dir& source) {
        return source.TimeGranularity();
    };
};

inline fs::Status AtSeam(const RunnerOptions& options, RunnerOptions::Seam seam,
                         const fs::NativeString& relative) {
    return options.seam ? options.seam(seam, relative) : fs::Status{};
}

// The runner that does the real file work: backup sets, cleaning, .bkp archives.
std::unique_ptr<TaskRunner> MakeFileTaskRunner(RunnerOptions options = {});

}  // namespace kivo
