// The record that tells the app how a run ended (kivo_regist_run_event in engine_api.h).
#pragma once

#include <cstdint>
#include <string_view>

#include "engine_api.h"
#include "run_log_text.h"

namespace kivo {

KivoRunEvent MakeRunEvent(RuleKind kind, int32_t ruleId, std::string_view description, RunTrigger trigger,
                          RunOutcome outcome, int64_t endUtc, std::string_view endLine);

}  // namespace kivo
