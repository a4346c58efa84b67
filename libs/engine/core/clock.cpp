#include "clock.h"

#include <chrono>
#include <mutex>

#include "platform.h"

namespace kivo {
namespace {

class SystemClock final : public Clock {
  public:
    int64_t NowUtc() const override {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }

    TimeZone Zone() const override {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(m_mutex);
        if (!m_read || now - m_readAt > std::chrono::minutes(1)) {
            m_zone = platform::CurrentTimeZone();
            m_readAt = now;
            m_read = true;
        }
        return m_zone;
    }

  private:
    mutable std::mutex m_mutex;
    mutable TimeZone m_zone;
    mutable std::chrono::steady_clock::time_point m_readAt;
    mutable bool m_read = false;
};

}  // namespace

std::shared_ptr<const Clock> MakeSystemClock() {
    return std::make_shared<SystemClock>();
}

}  // namespace kivo
