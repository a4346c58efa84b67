#include "start_options.h"

#include <algorithm>

const char* const kAutoStartUsage = "用法：plan_desk.exe /autostart on|off [/quiet]";

namespace {

wchar_t FoldAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
}

bool SameIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

bool IsSwitch(std::wstring_view argument, std::wstring_view name) {
    return argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-') &&
           SameIgnoringAsciiCase(argument.substr(1), name);
}

std::vector<std::wstring> SplitOnBlanks(std::wstring_view text) {
    std::vector<std::wstring> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != L' ' && text[i] != L'\t') ++i;
        if (i > start) words.emplace_back(text.substr(start, i - start));
    }
    return words;
}

}  // namespace

StartOptions ParseStartOptions(const std::vector<std::wstring>& arguments) {
    StartOptions options;
    bool background = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (IsSwitch(argument, L"background")) {
            background = true;
        } else if (IsSwitch(argument, L"quiet")) {
            options.quiet = true;
        } else if (IsSwitch(argument, L"autostart")) {
            options.mode = StartMode::AutoStart;
            const std::wstring value = i + 1 < arguments.size() ? arguments[++i] : L"";
            options.autoStartOn = SameIgnoringAsciiCase(value, L"on");
            options.usageFault = !options.autoStartOn && !SameIgnoringAsciiCase(value, L"off");
        }
    }
    if (options.mode != StartMode::AutoStart && background) options.mode = StartMode::Background;
    return options;
}

std::wstring AutoStartCommand(std::wstring_view exePath) {
    return L"\"" + std::wstring(exePath) + L"\" /background";
}

bool StartsInBackground(std::wstring_view value, std::wstring_view exePath) {
    while (!value.empty() && (value.front() == L' ' || value.front() == L'\t')) value.remove_prefix(1);
    std::wstring_view path, rest;
    if (!value.empty() && value.front() == L'"') {
        const size_t close = value.find(L'"', 1);
        if (close == std::wstring_view::npos) return false;
        path = value.substr(1, close - 1);
        rest = value.substr(close + 1);
        if (!rest.empty() && rest.front() != L' ' && rest.front() != L'\t') return false;
    } else {
        // Unquoted, the path may hold blanks: it is this program's when the value starts with it.
        if (value.size() < exePath.size()) return false;
        path = value.substr(0, exePath.size());
        rest = value.substr(exePath.size());
        if (!rest.empty() && rest.front() != L' ' && rest.front() != L'\t') return false;
    }
    return SameIgnoringAsciiCase(path, exePath) &&
           ParseStartOptions(SplitOnBlanks(rest)).mode == StartMode::Background;
}
