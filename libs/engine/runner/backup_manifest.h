// The record of what a backup set holds, kept beside its mark (backup_set_name.h), so that the next
// set can tell which files of the source are still as they were then and link them instead of
// copying. For every file: its path below the set's top, the source's size, last-write and change
// times as they were when it was copied, and the CRC-32 of the content. The text:
//   kivo backup manifest\n
//   version=1\n
//   clock=<fs::kClockName>\n
//   source=<the rule's source path, escaped>\n
//   files=<n>\n
//   <path>\t<size>\t<write ticks>\t<change ticks, or none>\t<CRC-32, 8 hex digits>\n    n times
//   crc=<CRC-32 of every byte before this line, 8 hex digits>\n
// Paths put '/' between names. Every byte below 0x21, 0x7F and '%' is written %XX, so that a name of
// any bytes (POSIX) or any UTF-16 units (Windows, stored as WTF-8) comes back exactly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"

namespace kivo {

constexpr int kManifestVersion = 1;

struct ManifestEntry {
    std::string path;
    uint64_t size = 0;
    int64_t writeTicks = 0;
    int64_t changeTicks = 0;  // 0: the volume kept none
    uint32_t crc = 0;
};

// The manifest's form of a path below the set's top (names joined by the platform's separator).
std::string ManifestPath(const fs::NativeString& relative);
// Bytes with the characters that would break a line or a field escaped.
std::string EscapeManifestText(std::string_view bytes);

// Whether the source file, as it is now, is the file the entry recorded: same size, same last-write
// time, same change time. Where the volume keeps no change time (0 on both sides) size and
// last-write time decide alone.
bool SameAsRecorded(const ManifestEntry& recorded, const fs::Facts& now);

// Why a manifest cannot be used.
enum class ManifestProblem { None, Damaged, Newer, OtherClock };

class BackupManifest {
  public:
    BackupManifest() = default;
    explicit BackupManifest(std::string sourceText) : m_source(std::move(sourceText)) {}

    const std::string& Source() const { return m_source; }
    size_t Size() const { return m_entries.size(); }

    // Entries of a set being written, in any order; Add gives the index that Drop takes.
    size_t Add(ManifestEntry entry);
    const ManifestEntry& At(size_t index) const { return m_entries[index]; }
    void Drop(size_t index);
    std::string Text() const;

    // Reads a manifest's text into out, ready for Find; on a problem out is left empty.
    static ManifestProblem Parse(std::string_view text, BackupManifest& out);
    // The entry of a path (ManifestPath's form) of a parsed manifest, or nullptr.
    const ManifestEntry* Find(std::string_view path) const;

  private:
    std::string m_source;
    std::vector<ManifestEntry> m_entries;  // sorted by path once parsed
    std::vector<bool> m_dropped;
};

}  // namespace kivo
