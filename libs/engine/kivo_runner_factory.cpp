#include "kivo_runner_factory.h"

#ifdef KIVO_HAVE_FILE_RUNNER
#include "file_task_runner.h"
#else
#include "unavailable_task_runner.h"
#endif

namespace kivo {

RunnerFactory DefaultRunnerFactory() {
#ifdef KIVO_HAVE_FILE_RUNNER
    return [] { return MakeFileTaskRunner(); };
#else
    return [] { return std::make_unique<UnavailableTaskRunner>(); };
#endif
}

}  // namespace kivo
