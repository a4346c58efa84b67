// The manifest of a backup set: names of any form come back exactly, damage anywhere is found, and
// the comparison of a source with its record on volumes without a change time.
#include "backup_manifest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <tuple>

#include "shared_files.h"

namespace kivo {
namespace {

fs::NativeString Native(std::initializer_list<int> units) {
    fs::NativeString out;
    for (int u : units) out += static_cast<fs::NativeString::value_type>(u);
    return out;
}

// Names a file system allows that a careless text form would merge or break.
std::vector<fs::NativeString> AwkwardNames() {
    const fs::NativeString sep(1, std::filesystem::path::preferred_separator);
    std::vector<fs::NativeString> names = {
        fs::NativeFromAscii("plain.txt"),
        fs::NativeFromAscii("with space\tand tab"),
        fs::NativeFromAscii("100%25 literally"),
        fs::NativeFromAscii("100% literally"),
        fs::NativeFromAscii("line\nbreak"),
        fs::NativeFromAscii("dir") + sep + fs::NativeFromAscii("file"),
        *fs::NativeFromUtf8("\xE4\xB8\xAD\xE6\x96\x87\xE7\x9B\xAE\xE5\xBD\x95"),  // 中文目录
        *fs::NativeFromUtf8("\xF0\x9F\x98\x80"),                                  // beyond 16 bits
    };
    if constexpr (sizeof(fs::NativeString::value_type) == 1) {
        names.push_back(Native({0xFF, 0xFE, 'x'}));  // not UTF-8: POSIX names are bytes
        names.push_back(Native({0xD6, 0xD0}));       // GBK bytes of 中
    } else {
        names.push_back(Native({0xD800, 'x'}));  // a lone surrogate: UTF-16 names need not be valid
        names.push_back(Native({0xDC00}));
    }
    return names;
}

BackupManifest Sample() {
    BackupManifest manifest(std::string("D:\\my docs\\\xD6\xD0 100%"));
    int64_t i = 0;
    for (const fs::NativeString& name : AwkwardNames()) {
        ++i;
        manifest.Add({ManifestPath(name), uint64_t(i * 1000), -i * 123456789, i % 3 ? i * 7 : 0,
                      uint32_t(i * 0x9E3779B9u), i % 4 != 0});
    }
    return manifest;
}

TEST(BackupManifest, EveryNameAndFactComesBackExactly) {
    const BackupManifest written = Sample();
    BackupManifest read;
    ASSERT_EQ(BackupManifest::Parse(written.Text(), read), ManifestProblem::None);
    EXPECT_EQ(read.Source(), written.Source());
    ASSERT_EQ(read.Size(), written.Size());
    std::set<std::string> paths;
    for (size_t i = 0; i < written.Size(); ++i) {
        const ManifestEntry& w = written.At(i);
        paths.insert(std::string(w.path));
        const std::optional<ManifestEntry> r = read.Find(w.path);
        ASSERT_TRUE(r) << w.path;
        // Facts that were not settled are not kept: only that they were not.
        const int64_t change = w.settled ? w.changeTicks : 0;
        EXPECT_EQ(std::tie(r->size, r->writeTicks, r->changeTicks, r->crc, r->settled),
                  std::tie(w.size, w.writeTicks, change, w.crc, w.settled))
            << w.path;
    }
    EXPECT_EQ(paths.size(), written.Size()) << "two names share one path";
    EXPECT_EQ(ManifestPath(AwkwardNames()[5]), "dir/file");
    EXPECT_FALSE(read.Find("dir"));

    // A dropped entry is not written.
    BackupManifest dropped = Sample();
    dropped.Drop(0);
    ASSERT_EQ(BackupManifest::Parse(dropped.Text(), read), ManifestProblem::None);
    EXPECT_EQ(read.Size(), written.Size() - 1);
    EXPECT_FALSE(read.Find("plain.txt"));
}

TEST(BackupManifest, EveryFlippedBitAndEveryCutIsFound) {
    const std::string text = Sample().Text();
    BackupManifest read;
    for (size_t at = 0; at < text.size(); ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string spoiled = text;
            spoiled[at] ^= char(1 << bit);
            ASSERT_NE(BackupManifest::Parse(spoiled, read), ManifestProblem::None) << at << " bit " << bit;
            EXPECT_EQ(read.Size(), 0u);
        }
        ASSERT_NE(BackupManifest::Parse(text.substr(0, at), read), ManifestProblem::None) << "cut at " << at;
    }
}

TEST(BackupManifest, ANewerVersionOrAnotherClockIsNamed) {
    // Text with a valid checksum, so that only the named field can be at fault.
    auto sealed = [](const std::string& body) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "crc=%08X\n", unsigned(shared::Crc32(body)));
        return body + crc;
    };
    const std::string head = "kivo backup manifest\n";
    const std::string clock = "clock=" + std::string(fs::kClockName) + "\n";
    struct Row {
        std::string text;
        ManifestProblem problem;
    } rows[] = {
        {sealed(head + "version=1\n" + clock + "source=x\nfiles=0\n"), ManifestProblem::None},
        {head + "version=3\nanything at all", ManifestProblem::Newer},
        // Written before unsettled facts were recorded: read as it is; the word is not its.
        {sealed(head + "version=1\n" + clock + "source=x\nfiles=1\na\t1\t2\t3\t00000000\n"),
         ManifestProblem::None},
        {sealed(head + "version=1\n" + clock + "source=x\nfiles=1\na\t1\t2\tunsettled\t00000000\n"),
         ManifestProblem::Damaged},
        {sealed(head + "version=1\nclock=ticks-of-elsewhere\nsource=x\nfiles=0\n"),
         ManifestProblem::OtherClock},
        {sealed(head + "version=0\n" + clock + "source=x\nfiles=0\n"), ManifestProblem::Damaged},
        {sealed(head + "version=1\n" + clock + "source=x\nfiles=1\n"), ManifestProblem::Damaged},
        {sealed(head + "version=1\n" + clock + "source=x\nfiles=1\na b\t1\t2\tnone\t00000000\n"),
         ManifestProblem::Damaged},  // a bare blank in a path
        {sealed(head + "version=1\n" + clock +
                "source=x\nfiles=2\na\t1\t2\tnone\t00000000\na\t1\t2\t3\t00000000\n"),
         ManifestProblem::Damaged},  // one path twice
    };
    for (const Row& row : rows) {
        BackupManifest read;
        EXPECT_EQ(BackupManifest::Parse(row.text, read), row.problem) << row.text;
    }
}

TEST(BackupManifest, WithoutChangeTimesSizeAndWriteTimeDecide) {
    const ManifestEntry recorded{"a", 10, 500, 0, 0};
    struct Row {
        int64_t recordedChange, nowChange;
        bool same;
    } rows[] = {
        {0, 0, true},     // a volume that keeps none: as recorded
        {0, 900, false},  // a change time now where none was: not the recorded volume's file
        {900, 0, false},
    };
    for (const Row& row : rows) {
        ManifestEntry entry = recorded;
        entry.changeTicks = row.recordedChange;
        fs::Facts now;
        now.kind = fs::Kind::File;
        now.size = 10;
        now.writeTicks = 500;
        now.changeTicks = row.nowChange;
        EXPECT_EQ(SameAsRecorded(entry, now), row.same) << row.recordedChange << " / " << row.nowChange;
    }
    // Facts recorded as unsettled match nothing, not even the same facts.
    ManifestEntry unsettled = recorded;
    unsettled.settled = false;
    fs::Facts same;
    same.size = 10;
    same.writeTicks = 500;
    EXPECT_FALSE(SameAsRecorded(unsettled, same));
}

// A file changed within one step of the volume's clock before its facts were taken may be written
// again in that step without its times moving: its record must not be trusted.
TEST(BackupManifest, FactsAreSettledOnlyOneClockStepAfterTheLastChange) {
    constexpr int64_t kMs = 1000000;  // ticks of the POSIX clock; the rule is the same on Windows
    constexpr int64_t seen = 1'700'000'000'000 * kMs;
    struct Row {
        const char* what;
        int64_t write, change, granularity;
        bool settled;
    } rows[] = {
        {"changed long before", seen - 5000 * kMs, seen - 4000 * kMs, 10 * kMs, true},
        {"changed exactly one step before", seen - 50 * kMs, seen - 10 * kMs, 10 * kMs, true},
        {"changed within the step", seen - 50 * kMs, seen - 10 * kMs + 1, 10 * kMs, false},
        {"changed as the facts were taken", seen, seen, 10 * kMs, false},
        {"dated after the clock", seen + 5000 * kMs, seen + 5000 * kMs, 10 * kMs, false},
        // The write time was set back (an unpacked archive, touch -d); the change time tells the truth.
        {"old write time, fresh change", seen - 86400000 * kMs, seen - 1 * kMs, 10 * kMs, false},
        // FAT: no change time, two-second steps of the write time.
        {"FAT, a second ago", seen - 1000 * kMs, 0, 2000 * kMs, false},
        {"FAT, three seconds ago", seen - 3000 * kMs, 0, 2000 * kMs, true},
        {"any volume, a step of nothing", seen - 1, seen - 1, 0, true},
    };
    for (const Row& row : rows) {
        fs::Facts facts;
        facts.writeTicks = row.write;
        facts.changeTicks = row.change;
        EXPECT_EQ(FactsSettled(facts, seen, row.granularity), row.settled) << row.what;
    }
}

}  // namespace
}  // namespace kivo
