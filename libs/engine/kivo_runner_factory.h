// The runner kivo.dll uses: the file runner when the build has it, else the unavailable one.
#pragma once

#include "engine.h"

namespace kivo {

RunnerFactory DefaultRunnerFactory();

}  // namespace kivo
