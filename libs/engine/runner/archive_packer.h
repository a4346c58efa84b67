// kivo_backup: one folder into one .bkp file (zip_format.h), written under a temporary name and
// renamed into place only when every file is in it.
#pragma once

#include <string>

#include "runner_options.h"

namespace kivo {

class ArchivePacker {
  public:
    explicit ArchivePacker(const RunnerOptions& options) : m_options(options) {}
    // A KivoResult code.
    int Run(const std::string& sourceFolderGbk, const std::string& backupFileGbk, RunContext& context);

  private:
    const RunnerOptions& m_options;
};

}  // namespace kivo
