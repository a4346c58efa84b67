// One run of a clean rule: see clean_conditions.h for what it deletes. A preview walks the same tree
// through the same code, with every decision the run makes, and lists what the run would delete.
#pragma once

#include "runner_options.h"

namespace kivo {

// The preview's receiver: one call per file a run would delete, in the order the run would delete it.
class CleanFileListing {
  public:
    virtual ~CleanFileListing() = default;
    // relative: below the rule's folder, in the platform's form; mtime in seconds UTC.
    virtual void File(const fs::NativeString& relative, uint64_t size, int64_t mtime) = 0;
};

class Cleaner {
  public:
    explicit Cleaner(const RunnerOptions& options) : m_options(options) {}
    RunReport Run(const ClearRule& rule, RunContext& context);
    // Lists what Run would delete at context's instant and deletes nothing. A KivoResult code:
    // KIVO_E_FOLDER_MISSING / KIVO_E_FOLDER_UNREADABLE with preview.reason set, KIVO_E_STOPPED when
    // context was cancelled, KIVO_E_BAD_TEXT / KIVO_E_BAD_RANGE for a rule no run could use.
    int Preview(const ClearRule& rule, RunContext& context, CleanFileListing& listing, CleanPreview& preview);

  private:
    const RunnerOptions& m_options;
};

}  // namespace kivo
