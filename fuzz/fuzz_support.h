// What every fuzz target needs: a scratch folder of its own and a way to report a broken property.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace fuzz {

// A folder of this process's own under TMPDIR (scripts/fuzz.sh points it at a RAM disk),
// created on first use and removed when the process exits normally.
const std::filesystem::path& ScratchFolder();
// Removes everything in the scratch folder: every input starts from an empty data folder.
void EmptyScratchFolder();

void WriteFile(const std::filesystem::path& path, std::string_view bytes);
// The whole file. One that cannot be opened reads as empty, with *exists false.
std::string ReadFile(const std::filesystem::path& path, bool* exists = nullptr);

// A broken property is a finding like a crash: print it and abort, so libFuzzer keeps the input.
[[noreturn]] void Fail(const char* condition, const char* file, int line);

}  // namespace fuzz

#define FUZZ_CHECK(condition)                                           \
    do {                                                                \
        if (!(condition)) ::fuzz::Fail(#condition, __FILE__, __LINE__); \
    } while (0)
