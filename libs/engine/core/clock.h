// Where the engine reads the time and the time zone; tests inject a fake.
#pragma once

#include <cstdint>
#include <memory>

#include "time_zone.h"

namespace kivo {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual int64_t NowUtc() const = 0;  // seconds since 1970-01-01 UTC
    virtual TimeZone Zone() const = 0;
};

// The system clock and the system's time zone (re-read at most once a minute).
std::shared_ptr<const Clock> MakeSystemClock();

}  // namespace kivo
