// libFuzzer target for the backup-set manifest reader: any input must be read without a crash or an
// unbounded allocation (a damaged manifest costs a full copy, never a failed run), and whatever it
// accepts must come back the same from its own text. Inputs whose first byte is odd get a valid
// checksum line appended, so that the fields behind the checksum are reached too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "backup_manifest.h"
#include "zip_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (size > 0 && (data[0] & 1)) {
        char line[16];
        std::snprintf(line, sizeof line, "crc=%08X\n", unsigned(kivo::zip::Crc32(text.data(), text.size())));
        text += line;
    }
    kivo::BackupManifest read;
    if (kivo::BackupManifest::Parse(text, read) != kivo::ManifestProblem::None) {
        if (read.Size() != 0) __builtin_trap();
        return 0;
    }
    kivo::BackupManifest again;
    if (kivo::BackupManifest::Parse(read.Text(), again) != kivo::ManifestProblem::None ||
        again.Size() != read.Size() || again.Source() != read.Source()) {
        __builtin_trap();
    }
    for (size_t i = 0; i < read.Size(); ++i) {
        const kivo::ManifestEntry e = read.At(i);
        const std::optional<kivo::ManifestEntry> back = again.Find(e.path);
        if (!back || back->size != e.size || back->writeTicks != e.writeTicks ||
            back->changeTicks != e.changeTicks || back->crc != e.crc || back->settled != e.settled ||
            read.Index(e.path) != i) {
            __builtin_trap();
        }
    }
    return 0;
}
