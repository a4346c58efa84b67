// Checks a backup rule's complete sets against the manifests they keep (kivo_verify_backup): every
// recorded file is there, has its recorded size, and its content the recorded CRC-32. Only the rule's
// own sets of this installation are read; nothing is written. A file edited inside a set, one a disk
// error spoiled, or one deleted by hand shows here, in every set that shares it.
#pragma once

#include "runner_options.h"

namespace kivo {

class BackupSetVerifier {
  public:
    explicit BackupSetVerifier(const RunnerOptions& options) : m_options(options) {}
    RunReport Run(const BackupRule& rule, RunContext& context);

  private:
    const RunnerOptions& m_options;
};

}  // namespace kivo
