// Time as throttling sees it: wall-clock milliseconds, since failures must outlive a restart.
#pragma once

#include <cstdint>

namespace account {

class AccountClock {
  public:
    virtual ~AccountClock() = default;
    virtual int64_t NowMs() = 0;  // Unix time in milliseconds
    virtual void SleepMs(int64_t ms) = 0;
};

class SystemClock : public AccountClock {
  public:
    int64_t NowMs() override;
    void SleepMs(int64_t ms) override;
};

}  // namespace account
