#include "login_failures.h"

#include <limits>

namespace account {

void CountFailure(AccountRecord& record, int64_t nowMs) {
    if (record.failures < std::numeric_limits<uint32_t>::max()) ++record.failures;
    record.lastFailureMs = nowMs;
}

bool ClearFailures(AccountRecord& record) {
    if (record.failures == 0 && record.lastFailureMs == 0) return false;
    record.failures = 0;
    record.lastFailureMs = 0;
    return true;
}

}  // namespace account
