// The record of what a backup set holds, kept beside its mark (backup_set_name.h), so that the next
// set can tell which files of the source are still as they were then and link them instead of
// copying, and so that a set can be checked against it (backup_set_verifier.h). For every file: its
// path below the set's top, the source's size, last-write and change times as they were when it was
// copied, and the CRC-32 of the content. The text:
//   kivo backup manifest\n
//   version=2\n
//   clock=<fs::kClockName>\n
//   source=<the rule's source path, escaped>\n
//   files=<n>\n
//   <path>\t<size>\t<write ticks>\t<change ticks, none or unsettled>\t<CRC-32, 8 hex digits>\n   n times
//   crc=<CRC-32 of every byte before this line, 8 hex digits>\n
// Paths put '/' between names. Every byte below 0x21, 0x7F and '%' is written %XX, so that a name of
// any bytes (POSIX) or any UTF-16 units (Windows, stored as WTF-8) comes back exactly.
// "unsettled" (version 2) marks a file whose times were too fresh to tell a later rewrite (FactsSettled):
// its facts are unknown, so the next set copies it. Version 1 had no such entries and is read as well.
//
// A manifest of a million files is held compactly: the records in one array, their paths in one block
// (the stored text itself when it was read), and the text is written in pieces, never whole.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.h"

namespace kivo {

constexpr int kManifestVersion = 2;

// One file's record, as it is added and read.
struct ManifestEntry {
    std::string_view path;  // ManifestPath's form; for Add, valid only during the call
    uint64_t size = 0;
    int64_t writeTicks = 0;
    int64_t changeTicks = 0;  // 0: the volume kept none
    uint32_t crc = 0;
    bool settled = true;  // false: the facts were too fresh to be trusted (recorded as "unsettled")
};

// The manifest's form of a path below the set's top (names joined by the platform's separator).
std::string ManifestPath(const fs::NativeString& relative);
// Bytes with the characters that would break a line or a field escaped, and back (of text as a parsed
// manifest holds it).
std::string EscapeManifestText(std::string_view bytes);
std::string UnescapeManifestText(std::string_view text);

// Whether the source file, as it is now, is the file the entry recorded: same size, same last-write
// time, same change time, and facts that were settled when recorded. Where the volume keeps no change
// time (0 on both sides) size and last-write time decide alone.
bool SameAsRecorded(const ManifestEntry& recorded, const fs::Facts& now);

// Whether facts taken at `seen` (the file system's clock, fs::ClockTicksNow) can tell every later
// rewrite of the file: its change time (its last-write time where the volume keeps none) lies at least
// one step of the volume's clock (`granularity`) before that moment. A file changed within that step
// may be written again within it with the same times, and the record would then describe a content
// the set does not hold.
bool FactsSettled(const fs::Facts& facts, int64_t seen, int64_t granularity);

// Why a manifest cannot be used.
enum class ManifestProblem { None, Damaged, Newer, OtherClock };

class BackupManifest {
  public:
    BackupManifest() = default;
    explicit BackupManifest(std::string sourceText) : m_source(std::move(sourceText)) {}

    const std::string& Source() const { return m_source; }
    size_t Size() const { return m_records.size() - m_droppedCount; }

    // Entries of a set being written, in any order; Add gives the index that Drop takes.
    size_t Add(const ManifestEntry& entry);
    ManifestEntry At(size_t index) const;
    void Drop(size_t index);

    // The text, handed out in pieces of about `piece` bytes; stops when `out` returns false.
    bool WriteText(const std::function<bool(std::string_view)>& out, size_t piece = 1 << 20) const;
    std::string Text() const;

    // Reads a manifest's text into out, ready for Find; on a problem out is left empty.
    static ManifestProblem Parse(std::string text, BackupManifest& out);
    // The entry of a path (ManifestPath's form) of a parsed manifest, or nothing; Index gives its
    // place for At.
    std::optional<ManifestEntry> Find(std::string_view path) const;
    std::optional<size_t> Index(std::string_view path) const;
    // A parsed manifest's text as it was stored.
    std::string_view StoredText() const { return m_parsed ? std::string_view(m_paths) : std::string_view(); }

  private:
    struct Record {
        uint64_t pathOffset = 0;  // in m_paths
        uint32_t pathLength = 0;
        uint32_t crc = 0;
        uint64_t size = 0;
        int64_t writeTicks = 0;
        int64_t changeTicks = 0;
        bool settled = true;
        bool dropped = false;
    };
    std::string_view PathOf(const Record& r) const {
        return std::string_view(m_paths).substr(r.pathOffset, r.pathLength);
    }

    std::string m_source;
    std::string m_paths;            // the paths one after another; a parsed manifest's whole text
    std::vector<Record> m_records;  // sorted by path once parsed
    size_t m_droppedCount = 0;
    bool m_parsed = false;
};

}  // namespace kivo
