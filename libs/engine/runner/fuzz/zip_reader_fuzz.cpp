// libFuzzer target for the archive reader: any input must be read without a crash, a hang or an
// unbounded allocation, and whatever it accepts must hold only names that are safe to restore.
#include <cstddef>
#include <cstdint>
#include <string>

#include "entry_name.h"
#include "zip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kivo::zip::MemorySource source(std::string_view(reinterpret_cast<const char*>(data), size));
    kivo::zip::ZipReader reader(source);
    if (!reader.Open()) return 0;
    for (const kivo::zip::ZipEntry& e : reader.Entries()) {
        kivo::EntryPath path;
        if (kivo::CheckEntryName(e.name, path) != nullptr || path.parts.empty() ||
            path.directory != e.directory) {
            __builtin_trap();
        }
        for (const std::string& part : path.parts) {
            if (part == ".." || part == "." || part.find_first_of("/\\:") != std::string::npos)
                __builtin_trap();
        }
    }
    for (size_t i = 0; i < reader.Entries().size(); ++i) {
        uint64_t delivered = 0;
        const bool ok = reader.Extract(i, [&](const char*, size_t n) {
            delivered += n;
            return true;
        });
        if (!ok) return 0;
        if (delivered != reader.Entries()[i].size) __builtin_trap();
    }
    reader.FinishCheck();
    return 0;
}
