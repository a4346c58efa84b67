// Helpers every library DLL needs: where the data folder is, GBK text, and crash-safe file replacement.
// Portable: a Win32 side and a POSIX side, so the library cores also build and test natively.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace shared {

// The per-user data folder: PLAN_DESK_HOME if set, else %LOCALAPPDATA%\plan_desk
// (POSIX: $XDG_DATA_HOME/plan_desk or ~/.local/share/plan_desk). Created when missing.
std::filesystem::path DataFolder();

// GBK (code page 936) <-> native path text. nullopt when a character has no exact counterpart.
std::optional<std::filesystem::path> PathFromGbk(std::string_view gbk);
std::optional<std::string> GbkFromPath(const std::filesystem::path& path);
std::optional<std::string> GbkFromUtf8(std::string_view utf8);
std::optional<std::string> Utf8FromGbk(std::string_view gbk);
#ifdef _WIN32
// UTF-16, the Windows sides' own text, to and from GBK and UTF-8.
std::optional<std::string> GbkFromWide(std::wstring_view wide);
std::optional<std::string> Utf8FromWide(std::wstring_view wide);
std::optional<std::wstring> WideFromUtf8(std::string_view utf8);
#endif

// Reads a whole file. False when it does not exist or cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& out);

// Replaces the file with data so that a crash at any moment leaves the old content or the new one:
// write "<name>.tmp", flush it to disk, then rename it over the file.
bool AtomicWriteFile(const std::filesystem::path& path, std::string_view data);

// CRC-32 (the ZIP polynomial); used as the checksum of the stores.
uint32_t Crc32(std::string_view data, uint32_t crc = 0);

// The barrier at an extern "C" entry point: body's result, or `failed` when body throws, so that
// nothing escapes into the caller.
template <class Body>
auto CatchAll(std::invoke_result_t<Body&> failed, Body&& body) noexcept -> std::invoke_result_t<Body&> {
    try {
        return body();
    } catch (...) {
        return failed;
    }
}

}  // namespace shared
