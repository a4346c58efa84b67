// Time as the account store sees it: wall-clock milliseconds, since the time of the last failed
// login outlives a restart and is shown to an administrator.
#pragma once

#include <cstdint>
#include <string>

namespace account {

class AccountClock {
  public:
    virtual ~AccountClock() = default;
    virtual int64_t NowMs() = 0;  // Unix time in milliseconds
};

class SystemClock : public AccountClock {
  public:
    int64_t NowMs() override;
};

// "YYYY-MM-DD HH:MM:SS" in the local time zone, whole seconds (a time before 1970 rounds down).
std::string LocalTimeText(int64_t unixMs);

}  // namespace account
