// One run of a backup rule: a new, complete backup set of source_path in backup_path (see
// backup_set_name.h), then retention of the rule's own older sets.
#pragma once

#include "runner_options.h"

namespace kivo {

class BackupSetRunner {
  public:
    explicit BackupSetRunner(const RunnerOptions& options) : m_options(options) {}
    RunReport Run(const BackupRule& rule, RunContext& context);

  private:
    const RunnerOptions& m_options;
};

}  // namespace kivo
