// What closing the main window costs: 19 modify_sys_cfg_int calls, each written through to disk.
// Baseline: one write of the same 19 values in a single file replacement.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "settings_api.h"
#include "shared_files.h"

namespace {

double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

const char* const kPrefixes[] = {"log", "clear", "backup"};
const int kColumns[] = {2, 10, 7};

}  // namespace

int main() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"settings_close_bench";
    SetEnvironmentVariableW(L"PLAN_DESK_HOME", folder.c_str());
    settings_start();

    const int rounds = 10;
    double worst = 0, total = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (int list = 0; list < 3; ++list) {
            for (int column = 1; column <= kColumns[list]; ++column) {
                char key[32];
                std::snprintf(key, sizeof key, "%slst_%d", kPrefixes[list], column);
                if (modify_sys_cfg_int("task_list_cfg", key, 100 + round + column) != 0) {
                    std::printf("modify failed\n");
                    return 1;
                }
            }
        }
        const double ms = Milliseconds(std::chrono::steady_clock::now() - start);
        worst = ms > worst ? ms : worst;
        total += ms;
    }
    settings_stop();

    std::string text = "[task_list_cfg]\r\n";
    for (int i = 0; i < 19; ++i) text += "clearlst_" + std::to_string(i) + "=123\r\n";
    const auto path = shared::DataFolder() / "baseline.ini";
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) shared::AtomicWriteFile(path, text);
    const double baseline = Milliseconds(std::chrono::steady_clock::now() - start) / rounds;

    const double mean = total / rounds;
    std::printf("settings close (19 writes through): mean %.1f ms, worst %.1f ms over %d rounds\n", mean,
                worst, rounds);
    std::printf("baseline (one file replacement): %.2f ms; ratio %.1f\n", baseline, mean / baseline);
    return 0;
}
