#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fuzz {
namespace {

void RemoveScratch() {
    std::error_code ec;
    std::filesystem::remove_all(ScratchFolder(), ec);
}

}  // namespace

const std::filesystem::path& ScratchFolder() {
    static const std::filesystem::path folder = [] {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("plan_desk_fuzz_" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        std::atexit(RemoveScratch);
        return path;
    }();
    return folder;
}

void EmptyScratchFolder() {
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder()))
        std::filesystem::remove_all(entry.path());
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) Fail("the scratch file was written", __FILE__, __LINE__);
}

std::string ReadFile(const std::filesystem::path& path, bool* exists) {
    std::ifstream in(path, std::ios::binary);
    if (exists) *exists = bool(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Fail(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "\nproperty broken: %s\n  at %s:%d\n", condition, file, line);
    std::abort();
}

}  // namespace fuzz
