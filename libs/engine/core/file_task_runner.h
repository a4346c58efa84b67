// The runner that does the real file work: backup sets, cleaning, .bkp archives.
#pragma once

#include <memory>

#include "task_runner.h"

namespace kivo {

std::unique_ptr<TaskRunner> MakeFileTaskRunner();

}  // namespace kivo
