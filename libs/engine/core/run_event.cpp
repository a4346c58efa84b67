#include "run_event.h"

#include <cstring>

#include "gbk_bytes.h"

namespace kivo {
namespace {

constexpr std::string_view kEllipsis = "…";

// Copies text into a field; a text that does not fit is cut at a GBK character boundary and ends
// with an ellipsis, so the receiver never sees half a character.
template <size_t N>
void CopyCut(char (&field)[N], std::string_view text) {
    std::memset(field, 0, N);
    if (text.size() < N) {
        std::memcpy(field, text.data(), text.size());
        return;
    }
    size_t kept = 0;
    for (size_t next; (next = kept + shared::GbkCharLength(text, kept)) + kEllipsis.size() < N;) kept = next;
    std::memcpy(field, text.data(), kept);
    std::memcpy(field + kept, kEllipsis.data(), kEllipsis.size());
}

int32_t OutcomeCode(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Succeeded:
            return KIVO_RUN_SUCCEEDED;
        case RunOutcome::PartiallyFailed:
            return KIVO_RUN_PARTLY_FAILED;
        case RunOutcome::Failed:
            return KIVO_RUN_FAILED;
        case RunOutcome::Cancelled:
            break;
    }
    return KIVO_RUN_CANCELLED;
}

int32_t TriggerCode(RunTrigger trigger) {
    switch (trigger) {
        case RunTrigger::Manual:
            return KIVO_TRIGGER_MANUAL;
        case RunTrigger::CatchUp:
            return KIVO_TRIGGER_CATCH_UP;
        case RunTrigger::Verify:
            return KIVO_TRIGGER_VERIFY;
        case RunTrigger::Scheduled:
            break;
    }
    return KIVO_TRIGGER_SCHEDULED;
}

}  // namespace

KivoRunEvent MakeRunEvent(RuleKind kind, int32_t ruleId, std::string_view description, RunTrigger trigger,
                          RunOutcome outcome, int64_t endUtc, std::string_view endLine) {
    KivoRunEvent event{};
    event.size = sizeof event;
    event.rule_id = ruleId;
    event.kind = kind == RuleKind::Clear ? KIVO_RULE_CLEAR : KIVO_RULE_BACKUP;
    event.outcome = OutcomeCode(outcome);
    event.trigger = TriggerCode(trigger);
    event.end_utc = endUtc;
    CopyCut(event.description, description);
    CopyCut(event.end_line, endLine);
    return event;
}

}  // namespace kivo
