// The preview of a clean rule on real folders (POSIX): it lists what the run would delete, and a
// property over random trees and rules: the preview and the clean that follows at the same instant
// never disagree.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <random>
#include <set>

#include "runner_options.h"
#include "runner_test_support.h"
#include "utf8_text.h"

namespace kivo {
namespace {

using test::Gbk;
using test::RecordingContext;
using test::ScratchDir;
using test::U8;
using test::UtcOptions;

constexpr int64_t kNow = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr int64_t kDay = 86400;

struct Listed {
    std::string path;  // UTF-8 of the UTF-16 the preview handed over
    uint64_t size;
    int64_t mtime;
    bool operator==(const Listed&) const = default;
};

std::string Utf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size())
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        AppendUtf8(out, cp);
    }
    return out;
}

class Listing final : public CleanListing {
  public:
    void File(std::u16string_view relative, uint64_t size, int64_t mtime) override {
        files.push_back({Utf8(relative), size, mtime});
        units.emplace_back(relative);
    }
    std::set<std::string> Paths() const {
        std::set<std::string> out;
        for (const Listed& f : files) out.insert(f.path);
        return out;
    }
    std::vector<Listed> files;
    std::vector<std::u16string> units;
};

struct Previewed {
    int rc;
    CleanPreview preview;
    Listing listing;
};

Previewed Preview(const ClearRule& rule, const RunnerOptions& options, RecordingContext& context) {
    Previewed out;
    out.rc = MakeFileTaskRunner(options)->PreviewClear(rule, context, out.listing, out.preview);
    return out;
}

// Files below root, relative, sorted.
std::set<std::string> Files(const std::filesystem::path& root) {
    std::set<std::string> out;
    for (const auto& [path, content] : test::Snapshot(root)) {
        if (path.back() != '/') out.insert(path);
    }
    return out;
}

void Put(const std::filesystem::path& path, size_t size, int64_t mtime) {
    test::WriteFile(path, std::string(size, 'x'));
    test::SetMtime(path, mtime);
}

// A volume of `total` bytes on which `base` bytes are taken by others and the rest by root's files,
// so that each delete frees its file's size, as on a real disk.
RunnerOptions Volume(const std::filesystem::path& root, uint64_t total, uint64_t base) {
    RunnerOptions options = UtcOptions();
    options.freeSpace = [root, total, base](const fs::Dir&, uint64_t& available, uint64_t& size) {
        uint64_t used = base;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
            if (!e.is_symlink() && e.is_regular_file()) used += e.file_size();
        }
        size = total;
        available = used >= total ? 0 : total - used;
        return fs::Status{};
    };
    return options;
}

TEST(CleanPreview, ListsWhatTheRunDeletesWithSizesAndTimesAndTouchesNothing) {
    ScratchDir dir;
    Put(dir / "old.log", 100, kNow - 10 * kDay);
    Put(dir / "new.log", 100, kNow - 3600);
    Put(dir / "sub/deep/old.log", 2048, kNow - 5 * kDay);
    Put(dir / U8(u8"子目录/旧日志.log"), 7, kNow - 30 * kDay);
    ClearRule rule = test::MakeClearRule(dir.Path());
    rule.keep_days = 2;
    WriteField(rule.name_filter, ".log");
    const auto before = test::Snapshot(dir.Path());

    RecordingContext context;
    context.now = kNow;
    Previewed got = Preview(rule, UtcOptions(), context);
    ASSERT_EQ(got.rc, KIVO_OK);
    // In the order the run walks: by name, depth first.
    EXPECT_EQ(got.listing.files, (std::vector<Listed>{{"old.log", 100, kNow - 10 * kDay},
                                                      {"sub/deep/old.log", 2048, kNow - 5 * kDay},
                                                      {U8(u8"子目录/旧日志.log"), 7, kNow - 30 * kDay}}));
    EXPECT_EQ(got.listing.units[2], u"子目录/旧日志.log");
    EXPECT_EQ(got.preview.files, 3u);
    EXPECT_EQ(got.preview.bytes, 2155u);
    EXPECT_TRUE(got.preview.deletesNow);
    EXPECT_EQ(got.preview.minFreePercent, 0);
    EXPECT_EQ(test::Snapshot(dir.Path()), before);
    // A preview is no run: nothing for the run log or the history.
    EXPECT_TRUE(context.lines.empty());
    EXPECT_TRUE(context.records.empty());

    MakeFileTaskRunner(UtcOptions())->RunClear(rule, context);
    EXPECT_EQ(Files(dir.Path()), std::set<std::string>{"new.log"});
}

TEST(CleanPreview, NamesAreUtf16EvenWhereGbkHasNoCharacterAndBytesThatAreNoUtf8AreReplaced) {
    ScratchDir dir;
    Put(dir / U8(u8"한국어.txt"), 1, kNow);
    Put(dir / U8(u8"表情😀.txt"), 2, kNow);
    Put(dir / "bad\xff.txt", 3, kNow);
    RecordingContext context;
    Previewed got = Preview(test::MakeClearRule(dir.Path()), UtcOptions(), context);
    ASSERT_EQ(got.rc, KIVO_OK);
    EXPECT_EQ(got.listing.units,
              (std::vector<std::u16string>{u"bad\uFFFD.txt", u"表情\U0001F600.txt", u"한국어.txt"}));
}

TEST(CleanPreview, NeverFollowsOrListsLinks) {
    ScratchDir dir;
    const auto watched = dir.Path() / "watched";
    test::WriteFile(dir / "canary/precious.txt", "keep me");
    test::WriteFile(watched / "junk.txt", "junk");
    std::filesystem::create_directory_symlink(dir.Path() / "canary", watched / "dirlink");
    std::filesystem::create_symlink(dir.Path() / "canary/precious.txt", watched / "filelink.txt");
    RecordingContext context;
    Previewed got = Preview(test::MakeClearRule(watched), UtcOptions(), context);
    ASSERT_EQ(got.rc, KIVO_OK);
    EXPECT_EQ(got.listing.Paths(), std::set<std::string>{"junk.txt"});
}

TEST(CleanPreview, AFolderThatCannotBeCleanedIsItsOwnResultWithTheRunsWords) {
    ScratchDir dir;
    test::WriteFile(dir / "file.txt", "x");
    test::WriteFile(dir / "canary/a.txt", "x");
    std::filesystem::create_directory_symlink(dir.Path() / "canary", dir.Path() / "link");
    ClearRule broken = test::MakeClearRule(dir.Path());
    WriteField(broken.size_range, "9,1");
    const struct {
        ClearRule rule;
        int rc;
        std::string reason;
    } cases[] = {
        {test::MakeClearRule(dir / "nowhere"), KIVO_E_FOLDER_MISSING,
         "无法打开监视目录 " + Gbk(dir / "nowhere") + "：文件不存在"},
        {test::MakeClearRule(dir / "file.txt"), KIVO_E_FOLDER_UNREADABLE,
         "无法打开监视目录 " + Gbk(dir / "file.txt") + "：不是目录"},
        {test::MakeClearRule(dir / "link"), KIVO_E_FOLDER_UNREADABLE,
         "监视目录 " + Gbk(dir / "link") + " 是链接，为安全起见不清理"},
        {broken, KIVO_E_BAD_RANGE, "规则条件无效：文件大小范围无效"},
    };
    for (const auto& c : cases) {
        RecordingContext context;
        Previewed got = Preview(c.rule, UtcOptions(), context);
        EXPECT_EQ(got.rc, c.rc) << c.reason;
        EXPECT_EQ(got.preview.reason, c.reason);
        EXPECT_TRUE(got.listing.files.empty());
        // The run refuses the same folder with the same words.
        EXPECT_EQ(MakeFileTaskRunner(UtcOptions())->RunClear(c.rule, context).summary, c.reason);
    }
}

void MakeTenFiles(const std::filesystem::path& root) {
    for (int i = 0; i < 10; ++i) Put(root / ("f" + std::to_string(i) + ".dat"), 10, kNow - (100 - i) * kDay);
}

TEST(CleanPreview, FreeSpaceVerdictAndTheOldestFirstStop) {
    struct Case {
        int percent;
        uint64_t base;  // bytes others take on the 200-byte volume; the ten files take 100
        bool deletesNow;
        std::vector<std::string> listed;  // in order
        std::vector<std::string> deleted;
    };
    const std::vector<std::string> all = {"f0.dat", "f1.dat", "f2.dat", "f3.dat", "f4.dat",
                                          "f5.dat", "f6.dat", "f7.dat", "f8.dat", "f9.dat"};
    const Case cases[] = {
        {60, 0, true, {"f0.dat", "f1.dat"}, {"f0.dat", "f1.dat"}},  // 50% free: two files reach 60%
        {50, 0, false, all, {}},                                    // 50% free already: nothing now
        {90, 0, true, {all.begin(), all.begin() + 8}, {all.begin(), all.begin() + 8}},  // 90% after eight
        {95, 20, true, all, all},                // at most 90% free: never reached, every file
        {51, 0, true, {"f0.dat"}, {"f0.dat"}},   // 55% after one
        {45, 20, true, {"f0.dat"}, {"f0.dat"}},  // 40% free, 45% after one
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        MakeTenFiles(dir.Path());
        ClearRule rule = test::MakeClearRule(dir.Path());
        rule.min_free_percent = c.percent;
        const RunnerOptions options = Volume(dir.Path(), 200, c.base);
        RecordingContext context;
        Previewed got = Preview(rule, options, context);
        ASSERT_EQ(got.rc, KIVO_OK);
        std::vector<std::string> listed;
        for (const Listed& f : got.listing.files) listed.push_back(f.path);
        EXPECT_EQ(listed, c.listed) << c.percent;
        EXPECT_EQ(got.preview.deletesNow, c.deletesNow) << c.percent;
        EXPECT_EQ(got.preview.minFreePercent, c.percent);
        EXPECT_EQ(got.preview.available, 100 - c.base);
        EXPECT_EQ(got.preview.total, 200u);
        EXPECT_EQ(Files(dir.Path()).size(), 10u);

        MakeFileTaskRunner(options)->RunClear(rule, context);
        std::set<std::string> deleted;
        for (const std::string& name : all) {
            if (!std::filesystem::exists(dir.Path() / name)) deleted.insert(name);
        }
        EXPECT_EQ(deleted, std::set<std::string>(c.deleted.begin(), c.deleted.end())) << c.percent;
    }
}

TEST(CleanPreview, UnreadableFreeSpaceAndCancellingHaveTheirOwnResults) {
    ScratchDir dir;
    MakeTenFiles(dir.Path());
    ClearRule rule = test::MakeClearRule(dir.Path());
    rule.min_free_percent = 20;
    RunnerOptions options = UtcOptions();
    options.freeSpace = [](const fs::Dir&, uint64_t&, uint64_t&) {
        return fs::Status{fs::Error::AccessDenied, 5};
    };
    RecordingContext context;
    Previewed unreadable = Preview(rule, options, context);
    EXPECT_EQ(unreadable.rc, KIVO_E_FOLDER_UNREADABLE);
    EXPECT_EQ(unreadable.preview.reason, "无法读取可用空间：拒绝访问");

    RecordingContext cancelling;
    cancelling.cancelAfterChecks = 3;
    Previewed stopped = Preview(test::MakeClearRule(dir.Path()), UtcOptions(), cancelling);
    EXPECT_EQ(stopped.rc, KIVO_E_STOPPED);
    EXPECT_EQ(stopped.listing.files.size(), 3u);
    EXPECT_EQ(stopped.preview.files, 3u);
    EXPECT_EQ(Files(dir.Path()).size(), 10u);
}

// The property: preview, then clean at the same instant, over random trees and rules. The files the
// preview listed are exactly the files the clean deleted, every time.
class RandomCase {
  public:
    explicit RandomCase(uint32_t seed) : m_random(seed) {}

    void MakeTree(const std::filesystem::path& root) {
        static const char* const kNames[] = {"a.log",    "b.LOG",    "report.doc", "x.tmp",    "y.TMP",
                                             "data.bin", "日志.log", "temp",       "备份.tmp", "z.txt"};
        const int files = Pick(0, 40);
        for (int i = 0; i < files; ++i) {
            std::string folder;
            for (int depth = Pick(0, 3); depth > 0; --depth) folder += "d" + std::to_string(Pick(0, 2)) + "/";
            const std::string name = std::to_string(i) + "-" + U8Name(kNames[Pick(0, 9)]);
            Put(root / (folder + name), size_t(Pick(0, 6000)), Mtime());
        }
        if (Pick(0, 4) == 0) std::filesystem::create_directories(root / "empty");
        if (Pick(0, 4) == 0) std::filesystem::create_symlink("/etc/hostname", root / "link.log");
    }

    ClearRule MakeRule(const std::filesystem::path& root) {
        ClearRule rule = test::MakeClearRule(root);
        if (Pick(0, 1)) rule.keep_days = Pick(0, 45);
        static const char* const kFilters[] = {"", ".log", ".tmp,.doc", "日志", "LOG,bin", ",", "a"};
        WriteField(rule.name_filter, kFilters[Pick(0, 6)]);
        if (Pick(0, 2) == 0) {
            const int lo = Pick(0, 3);
            WriteField(rule.size_range, std::to_string(lo) + "," + std::to_string(lo + Pick(0, 3)));
        }
        if (Pick(0, 2) == 0) {
            const int lo = 20231001 + Pick(0, 30), hi = 20231101 + Pick(0, 29);
            WriteField(rule.date_range, std::to_string(lo) + "," + std::to_string(hi));
        }
        if (Pick(0, 2) == 0) {
            const int lo = Pick(0, 11) * 100 + Pick(0, 59), hi = Pick(12, 23) * 100 + Pick(0, 59);
            char text[16];
            std::snprintf(text, sizeof text, "%04d,%04d", lo, hi);
            WriteField(rule.time_range, text);
        }
        if (Pick(0, 1)) rule.min_free_percent = Pick(5, 95);
        return rule;
    }

    // A volume where the tree's files take their size, others a random share, and a random share is free.
    RunnerOptions MakeVolume(const std::filesystem::path& root) {
        uint64_t files = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
            if (!e.is_symlink() && e.is_regular_file()) files += e.file_size();
        }
        const uint64_t base = uint64_t(Pick(0, 100000)), free = uint64_t(Pick(0, 200000));
        return Volume(root, files + base + free, base);
    }

  private:
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_random); }
    // Ages around the conditions' edges: whole days and minutes before now, and exact boundaries.
    int64_t Mtime() {
        switch (Pick(0, 3)) {
            case 0:
                return kNow - int64_t(Pick(0, 60)) * kDay;  // exactly N days old
            case 1:
                return kNow - int64_t(Pick(0, 60)) * kDay - Pick(-1, 1);
            default:
                return kNow - Pick(0, 60 * 24 * 60) * 60;
        }
    }
    static std::string U8Name(const char* gbkOrAscii) {
        const std::string text = gbkOrAscii;
        if (text == "日志.log") return U8(u8"日志.log");
        if (text == "备份.tmp") return U8(u8"备份.tmp");
        return text;
    }
    std::mt19937 m_random;
};

TEST(CleanPreview, PreviewAndTheCleanThatFollowsAgreeOnRandomTreesAndRules) {
    const uint32_t first = 20260322;
    int withFreeSpace = 0, deletingSome = 0, notNow = 0;
    for (uint32_t seed = first; seed < first + 200; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        ScratchDir dir;
        RandomCase random(seed);
        random.MakeTree(dir.Path());
        const ClearRule rule = random.MakeRule(dir.Path());
        const RunnerOptions options = random.MakeVolume(dir.Path());
        const std::set<std::string> before = Files(dir.Path());

        RecordingContext context;
        context.now = kNow;  // the same instant for both
        Previewed got = Preview(rule, options, context);
        ASSERT_EQ(got.rc, KIVO_OK);
        ASSERT_EQ(Files(dir.Path()), before);
        const std::set<std::string> listed = got.listing.Paths();
        ASSERT_EQ(listed.size(), got.listing.files.size()) << "a file listed twice";

        const RunReport report = MakeFileTaskRunner(options)->RunClear(rule, context);
        ASSERT_NE(report.outcome, RunOutcome::Failed) << report.summary;
        std::set<std::string> deleted;
        for (const std::string& path : before) {
            if (!std::filesystem::exists(dir.Path() /
                                         std::filesystem::path(std::u8string(path.begin(), path.end()))))
                deleted.insert(path);
        }
        if (got.preview.deletesNow) {
            EXPECT_EQ(listed, deleted);
        } else {
            // Nothing now; the list is what a run deletes once free space is short: all of it.
            EXPECT_TRUE(deleted.empty());
            RunnerOptions full = options;
            full.freeSpace = [](const fs::Dir&, uint64_t& available, uint64_t& total) {
                available = 0, total = 1;
                return fs::Status{};
            };
            MakeFileTaskRunner(full)->RunClear(rule, context);
            std::set<std::string> deletedWhenFull;
            for (const std::string& path : before) {
                if (!std::filesystem::exists(dir.Path() /
                                             std::filesystem::path(std::u8string(path.begin(), path.end()))))
                    deletedWhenFull.insert(path);
            }
            EXPECT_EQ(listed, deletedWhenFull);
            ++notNow;
        }
        withFreeSpace += rule.min_free_percent > 0;
        deletingSome += !deleted.empty() && deleted.size() < before.size();
    }
    // The random rules reach every branch: partial deletes, free-space rules, and the not-now verdict.
    EXPECT_GT(withFreeSpace, 50);
    EXPECT_GT(deletingSome, 30);
    EXPECT_GT(notNow, 5);
}

}  // namespace
}  // namespace kivo
