// Failed logins: counted per account and stamped with the time of the latest, so that
// "plan_account list" can show them. They never delay or refuse a login: the key derivation
// already limits guessing to about one try per second per core, and a lock-out would let anyone
// at the keyboard shut the operator out.
#pragma once

#include <cstdint>

#include "account_record.h"

namespace account {

// One more failure at nowMs. The count stops at its largest value rather than wrap to 0.
void CountFailure(AccountRecord& record, int64_t nowMs);
// Forgets the failures; false when there were none, so there is nothing to write.
bool ClearFailures(AccountRecord& record);

}  // namespace account
