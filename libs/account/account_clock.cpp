#include "account_clock.h"

#include <chrono>
#include <ctime>

namespace account {

int64_t SystemClock::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string LocalTimeText(int64_t unixMs) {
    const std::time_t seconds = std::time_t(unixMs / 1000 - (unixMs % 1000 < 0 ? 1 : 0));
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &seconds) != 0) return "?";
#else
    if (!localtime_r(&seconds, &local)) return "?";
#endif
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) return "?";
    return text;
}

}  // namespace account
