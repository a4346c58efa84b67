// The latest figures that the engine reported for the manual backup or restore in progress. The
// run-log callback hands every line over (on the engine's thread); the dialog polls the figures from
// its timer. Pure logic: no window code.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "manual_progress.h"

namespace editors {

class LatestProgress {
  public:
    // Listens for the progress lines of one operation, forgetting earlier figures.
    void Begin(ManualOperation operation);
    // Stops listening; later lines are ignored.
    void End();
    // Any run-log line, from any thread. Allocates nothing.
    void Note(std::string_view line);
    // Files done so far, once the engine has reported them.
    std::optional<uint64_t> Files() const;

  private:
    mutable std::mutex m_mutex;
    std::optional<ManualOperation> m_listening;
    std::optional<uint64_t> m_files;
};

// The one the run-log callback feeds and the manual dialog reads.
LatestProgress& ManualCallProgress();

}  // namespace editors
