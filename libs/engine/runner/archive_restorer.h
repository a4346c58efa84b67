// kivo_restore: one .bkp (or any ZIP archive) into a folder. The whole archive is checked first
// and refused if any entry is unsafe; every file is extracted into a staging folder inside the
// target and checked against its CRC; only then do the files take their places, replacing
// existing files. Nothing is ever written outside the target folder, nor through a link in it.
#pragma once

#include <string>

#include "runner_options.h"

namespace kivo {

class ArchiveRestorer {
  public:
    explicit ArchiveRestorer(const RunnerOptions& options) : m_options(options) {}
    // A KivoResult code.
    int Run(const std::string& backupFileGbk, const std::string& targetFolderGbk, RunContext& context);

  private:
    const RunnerOptions& m_options;
};

}  // namespace kivo
