// How repeated failures slow down and then stop the attempts on one account.
#pragma once

#include <cstdint>

#include "account_record.h"

namespace account {

struct ThrottleDecision {
    bool lockedOut = false;
    int64_t waitMs = 0;       // how long the attempt waits before it is checked
    int64_t lockedForMs = 0;  // when locked out: how much longer
};

struct ThrottlePolicy {
    uint32_t freeFailures = 3;    // failures that cost nothing
    int64_t firstDelayMs = 1000;  // the wait after one more failure, doubling with each further one
    int64_t maxDelayMs = 30000;
    uint32_t lockoutFailures = 10;       // from this many failures on, the account is refused...
    int64_t lockoutMs = 15 * 60 * 1000;  // ...for this long after the latest failure

    // The wait owed after `failures` consecutive failures, counted from the latest of them.
    int64_t DelayAfter(uint32_t failures) const;
    // What an attempt at nowMs on this account must do. A last failure in the future (the clock
    // went back) counts as now, so neither a wait nor a lock-out ever exceeds its full length.
    ThrottleDecision Decide(const AccountRecord& record, int64_t nowMs) const;
};

}  // namespace account
