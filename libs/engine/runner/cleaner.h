// One run of a clean rule: see clean_conditions.h for what it deletes.
#pragma once

#include "runner_options.h"

namespace kivo {

class Cleaner {
  public:
    explicit Cleaner(const RunnerOptions& options) : m_options(options) {}
    RunReport Run(const ClearRule& rule, RunContext& context);

  private:
    const RunnerOptions& m_options;
};

}  // namespace kivo
