// kivo_backup / kivo_restore on real folders (POSIX), and interop with Python's zipfile, zip and unzip.
#include <gtest/gtest.h>

#include "engine_api.h"
#include "manual_progress.h"
#include "runner_options.h"
#include "runner_test_support.h"
#include "zip_writer.h"

namespace kivo {
namespace {

using test::Gbk;
using test::RecordingContext;
using test::ScratchDir;
using test::U8;

void MakeSource(const std::filesystem::path& source) {
    test::WriteFile(source / "a.txt", "alpha");
    test::WriteFile(source / "empty.dat", "");
    test::WriteFile(source / U8(u8"中文目录/报告.txt"), U8(u8"内容"));
    test::WriteFile(source / "deep/er/big.log", std::string(200000, 'L') + "tail");
    std::string random(50000, '\0');
    uint32_t x = 12345;
    for (char& c : random) c = char((x = x * 1103515245 + 12345) >> 24);
    test::WriteFile(source / "deep/random.bin", random);
    std::filesystem::create_directories(source / "hollow");
    test::SetMtime(source / "a.txt", 1600000000);
}

std::string Quote(const std::filesystem::path& p) {
    return "'" + p.string() + "'";
}

int Backup(const std::filesystem::path& source, const std::filesystem::path& file, RecordingContext& context,
           RunnerOptions options = {}) {
    return MakeFileTaskRunner(std::move(options))->Backup(Gbk(source), Gbk(file), context);
}

int Restore(const std::filesystem::path& file, const std::filesystem::path& target, RecordingContext& context,
            RunnerOptions options = {}) {
    return MakeFileTaskRunner(std::move(options))->Restore(Gbk(file), Gbk(target), context);
}

TEST(Archive, BacksUpAndRestoresATreeExactly) {
    ScratchDir dir;
    const auto source = dir / U8(u8"源目录");
    MakeSource(source);
    const auto file = dir / U8(u8"备份.bkp");
    RecordingContext context;
    ASSERT_EQ(Backup(source, file, context), KIVO_OK);
    EXPECT_EQ(context.lines,
              (std::vector<std::string>{"开始手动备份：" + Gbk(source) + " 到 " + Gbk(file),
                                        "手动备份完成：" + Gbk(file) +
                                            "，文件 5 个，目录 4 个，共 250015 字节，备份文件 " +
                                            std::to_string(std::filesystem::file_size(file)) + " 字节"}));
    EXPECT_EQ(context.boundaries, context.lines);  // the history keeps them as it keeps a run's start and end

    RecordingContext restoring;
    const auto target = dir / "restored";
    ASSERT_EQ(Restore(file, target, restoring), KIVO_OK);
    EXPECT_EQ(test::Snapshot(target), test::Snapshot(source));
    EXPECT_EQ(test::Mtime(target / "a.txt"), 1600000000);
    EXPECT_EQ(restoring.lines, (std::vector<std::string>{"开始还原：" + Gbk(file) + " 到 " + Gbk(target),
                                                         "还原完成：" + Gbk(target) +
                                                             "，文件 5 个，新建目录 4 个，共 250015 字节"}));
    EXPECT_EQ(restoring.boundaries, restoring.lines);
}

TEST(Archive, ProgressLinesCountUpToTheTotalsAndTheAppReadsThemBack) {
    ScratchDir dir;
    MakeSource(dir / "src");
    RunnerOptions everyStep;
    everyStep.progressSeconds = 0;  // a line at every step instead of every two seconds
    RecordingContext packing, unpacking;
    ASSERT_EQ(Backup(dir / "src", dir / "p.bkp", packing, everyStep), KIVO_OK);
    ASSERT_EQ(Restore(dir / "p.bkp", dir / "back", unpacking, everyStep), KIVO_OK);
    for (auto [context, operation] :
         {std::pair{&packing, ManualOperation::Backup}, std::pair{&unpacking, ManualOperation::Restore}}) {
        const std::vector<std::string>& lines = context->lines;
        ASSERT_GT(lines.size(), 3u);
        ManualProgress last{operation, 0, 0};
        // Every line between the first and the summary is a progress line, and the figures only grow.
        for (size_t i = 1; i + 1 < lines.size(); ++i) {
            const auto progress = ParseManualProgressLine(lines[i]);
            ASSERT_TRUE(progress) << lines[i];
            EXPECT_EQ(progress->operation, operation);
            EXPECT_GE(progress->files, last.files);
            EXPECT_GE(progress->bytes, last.bytes);
            last = *progress;
        }
        EXPECT_EQ(last, (ManualProgress{operation, 5, 250015}));
    }
}

TEST(Archive, PeersReadWhatBackupWrites) {
    ScratchDir dir;
    MakeSource(dir / "src");
    RecordingContext context;
    ASSERT_EQ(Backup(dir / "src", dir / "out.bkp", context), KIVO_OK);
    EXPECT_EQ(test::Shell("unzip -tq " + Quote(dir / "out.bkp") + " >/dev/null"), 0);
    const std::string check = R"(
import os, sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
names = set()
for i in z.infolist():
    names.add(i.filename)
    p = os.path.join(sys.argv[2], i.filename)
    assert os.path.isdir(p) if i.is_dir() else open(p, 'rb').read() == z.read(i), i.filename
for d, ds, fs in os.walk(sys.argv[2]):
    for f in ds + fs:
        rel = os.path.relpath(os.path.join(d, f), sys.argv[2]) + ('/' if f in ds else '')
        assert rel in names, rel
)";
    test::WriteFile(dir / "check.py", check);
    EXPECT_EQ(test::Shell("python3 " + Quote(dir / "check.py") + " " + Quote(dir / "out.bkp") + " " +
                          Quote(dir / "src")),
              0);
    // unzip restores the same tree.
    // unzip writes UTF-8 names only under a UTF-8 locale.
    EXPECT_EQ(
        test::Shell("LC_ALL=C.UTF-8 unzip -q " + Quote(dir / "out.bkp") + " -d " + Quote(dir / "by-unzip")),
        0);
    EXPECT_EQ(test::Snapshot(dir / "by-unzip"), test::Snapshot(dir / "src"));
}

TEST(Archive, RestoresArchivesThatPeersWrote) {
    ScratchDir dir;
    MakeSource(dir / "src");
    ASSERT_EQ(test::Shell("cd " + Quote(dir / "src") + " && LC_ALL=C.UTF-8 zip -qr " +
                          Quote(dir / "by-zip.zip") + " ."),
              0);
    RecordingContext context;
    ASSERT_EQ(Restore(dir / "by-zip.zip", dir / "from-zip", context), KIVO_OK) << context.lines.back();
    EXPECT_EQ(test::Snapshot(dir / "from-zip"), test::Snapshot(dir / "src"));

    const std::string make =
        U8(u8R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('py/中文.txt', '内容')
    z.writestr(zipfile.ZipInfo('py/dir/'), '')
    z.writestr('py/stored.bin', b'\0' * 1000, compress_type=zipfile.ZIP_STORED)
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
with open(sys.argv[2], 'wb') as raw:
    with zipfile.ZipFile(Unseekable(raw), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('stream/a.txt', 'streamed ' * 100)
        z.writestr('stream/b.txt', 'with data descriptors')
)");
    test::WriteFile(dir / "make.py", make);
    ASSERT_EQ(test::Shell("python3 " + Quote(dir / "make.py") + " " + Quote(dir / "py.zip") + " " +
                          Quote(dir / "stream.zip")),
              0);
    ASSERT_EQ(Restore(dir / "py.zip", dir / "from-py", context), KIVO_OK) << context.lines.back();
    EXPECT_EQ(test::Snapshot(dir / "from-py"),
              (std::map<std::string, std::string>{{"py/", ""},
                                                  {U8(u8"py/中文.txt"), U8(u8"内容")},
                                                  {"py/dir/", ""},
                                                  {"py/stored.bin", std::string(1000, '\0')}}));
    ASSERT_EQ(Restore(dir / "stream.zip", dir / "from-stream", context), KIVO_OK) << context.lines.back();
    EXPECT_EQ(test::ReadFile(dir / "from-stream/stream/b.txt"), "with data descriptors");

    // Entries aligned to pages, with gaps between them.
    std::vector<test::RawEntry> aligned = {{"p/one.txt", "first"}, {"p/two.bin", std::string(5000, '2')}};
    for (auto& e : aligned) e.alignTo = 4096;
    test::WriteFile(dir / "aligned.zip", test::BuildRawZip(aligned));
    ASSERT_EQ(Restore(dir / "aligned.zip", dir / "from-aligned", context), KIVO_OK) << context.lines.back();
    EXPECT_EQ(test::ReadFile(dir / "from-aligned/p/two.bin"), std::string(5000, '2'));
}

TEST(Archive, PeersReadOurZip64Records) {
    ScratchDir dir;
    std::string check = R"(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
names = z.namelist()
assert len(names) == int(sys.argv[2]), len(names)
assert z.read(names[-1]) == sys.argv[3].encode(), names[-1]
)";
    test::WriteFile(dir / "check.py", check);
    {
        zip::MemorySink sink;
        zip::ZipWriter writer(sink, {Z_DEFAULT_COMPRESSION, true});
        ASSERT_TRUE(writer.AddDirectory("d/", 1700000000));
        ASSERT_TRUE(writer.BeginFile("d/last.txt", 1700000000, 4));
        ASSERT_TRUE(writer.Write("last", 4));
        ASSERT_TRUE(writer.EndFile());
        ASSERT_TRUE(writer.Finish());
        test::WriteFile(dir / "forced.bkp", sink.Bytes());
    }
    {
        zip::MemorySink sink;
        zip::ZipWriter writer(sink);
        for (int i = 0; i < 70000; ++i) {
            ASSERT_TRUE(writer.BeginFile("f" + std::to_string(i), 1700000000, 1));
            ASSERT_TRUE(writer.Write(i == 69999 ? "z" : "a", 1));
            ASSERT_TRUE(writer.EndFile());
        }
        ASSERT_TRUE(writer.Finish());
        test::WriteFile(dir / "many.bkp", sink.Bytes());
    }
    EXPECT_EQ(test::Shell("unzip -tq " + Quote(dir / "forced.bkp") + " >/dev/null"), 0);
    EXPECT_EQ(test::Shell("python3 " + Quote(dir / "check.py") + " " + Quote(dir / "forced.bkp") + " 2 last"),
              0);
    EXPECT_EQ(test::Shell("unzip -tq " + Quote(dir / "many.bkp") + " >/dev/null"), 0);
    EXPECT_EQ(test::Shell("python3 " + Quote(dir / "check.py") + " " + Quote(dir / "many.bkp") + " 70000 z"),
              0);
    RecordingContext context;
    ASSERT_EQ(Restore(dir / "forced.bkp", dir / "out", context), KIVO_OK) << context.lines.back();
    EXPECT_EQ(test::ReadFile(dir / "out/d/last.txt"), "last");
}

TEST(Archive, CancellingLeavesNoArchiveAndNoFiles) {
    ScratchDir dir;
    MakeSource(dir / "src");
    RecordingContext packing;
    packing.cancelAfterChecks = 2;
    EXPECT_EQ(Backup(dir / "src", dir / "out.bkp", packing), KIVO_E_CANCELLED);
    EXPECT_EQ(packing.lines.back(), "手动备份失败（错误代码 29）：任务引擎正在关闭，已删除未完成的备份文件");
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, std::set<std::string>{"src"});

    RecordingContext context;
    ASSERT_EQ(Backup(dir / "src", dir / "out.bkp", context), KIVO_OK);
    RecordingContext restoring;
    restoring.cancelAfterChecks = 2;
    EXPECT_EQ(Restore(dir / "out.bkp", dir / "target", restoring), KIVO_E_CANCELLED);
    EXPECT_FALSE(std::filesystem::exists(dir / "target"));  // made by the restore, so taken away again
}

TEST(Archive, RefusesAnArchiveInsideTheFolderItBacksUp) {
    ScratchDir dir;
    MakeSource(dir / "src");
    std::filesystem::create_directory_symlink(dir / "src/deep", dir / "alias");
    for (const auto& file : {dir / "src/x.bkp", dir / "src/deep/er/x.bkp", dir / "alias/x.bkp"}) {
        RecordingContext context;
        EXPECT_EQ(Backup(dir / "src", file, context), KIVO_E_TARGET_IN_SOURCE) << file;
        EXPECT_EQ(context.lines.back(),
                  "手动备份失败（错误代码 21）：备份文件不能放在要备份的目录之内：" + Gbk(file));
    }
    MakeSource(dir / "fresh");
    EXPECT_EQ(test::Snapshot(dir / "src"), test::Snapshot(dir / "fresh"));
}

TEST(Archive, ReportsMissingAndUnusablePathsWithTheirCodes) {
    ScratchDir dir;
    MakeSource(dir / "src");
    test::WriteFile(dir / "not-a-zip.bkp", "hello, I am not an archive at all");
    test::WriteFile(dir / "a-file", "x");
    RecordingContext context;
    EXPECT_EQ(Backup(dir / "missing", dir / "out.bkp", context), KIVO_E_SOURCE_MISSING);
    EXPECT_EQ(Backup(dir / "a-file", dir / "out.bkp", context), KIVO_E_SOURCE_MISSING);
    EXPECT_EQ(Backup(dir / "src", dir / "no/such/folder/out.bkp", context), KIVO_E_CREATE_FAILED);
    EXPECT_EQ(Backup(dir / "src", dir / "src/../a-file/x.bkp", context), KIVO_E_CREATE_FAILED);
    EXPECT_EQ(Restore(dir / "missing.bkp", dir / "t", context), KIVO_E_SOURCE_MISSING);
    EXPECT_EQ(Restore(dir / "not-a-zip.bkp", dir / "t", context), KIVO_E_ARCHIVE_DAMAGED);
    EXPECT_EQ(context.lines.back(), "还原失败（错误代码 25）：备份文件已损坏：找不到 ZIP 结束记录");
    ASSERT_EQ(Backup(dir / "src", dir / "good.bkp", context), KIVO_OK);
    EXPECT_EQ(Restore(dir / "good.bkp", dir / "a-file", context), KIVO_E_TARGET_INVALID);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bkp"));
    EXPECT_FALSE(std::filesystem::exists(dir / "t"));
}

TEST(Archive, AFileThatCannotBeReadLeavesNoArchive) {
    ScratchDir dir;
    MakeSource(dir / "src");
    test::WriteFile(dir / "src/locked.db", "db");
    test::WriteFile(dir / "old.bkp", "the previous backup");
    RunnerOptions options;
    options.seam = [](RunnerOptions::Seam seam, const fs::NativeString& relative) {
        if (seam == RunnerOptions::Seam::OpenSource && relative == "locked.db")
            return fs::Status{fs::Error::Locked, 0};
        return fs::Status{};
    };
    RecordingContext context;
    EXPECT_EQ(Backup(dir / "src", dir / "old.bkp", context, options), KIVO_E_READ_FAILED);
    EXPECT_EQ(context.lines, (std::vector<std::string>{
                                 "开始手动备份：" + Gbk(dir / "src") + " 到 " + Gbk(dir / "old.bkp"),
                                 "备份失败：" + Gbk(dir / "src") + "/locked.db：文件被其他程序占用",
                                 "手动备份失败（错误代码 23）：有 1 个文件或目录未能备份，未生成备份文件"}));
    // The file's failure line is an ordinary one; the first and the last bound the call.
    EXPECT_EQ(context.boundaries, (std::vector<std::string>{context.lines.front(), context.lines.back()}));
    EXPECT_EQ(test::ReadFile(dir / "old.bkp"), "the previous backup");
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"old.bkp", "src"}));
}

// A scratch folder with a target that already holds a file and a canary beside it.
struct RestoreScene {
    ScratchDir dir;
    std::filesystem::path archive = dir / "in.bkp";
    std::filesystem::path target = dir / "target";
    RestoreScene() {
        test::WriteFile(target / "existing.txt", "was here");
        test::WriteFile(dir / "canary/c.txt", "canary");
        test::WriteFile(dir / "canary/sub/d.txt", "canary 2");
    }
};

TEST(Archive, RefusesEveryMaliciousEntryAndTouchesNothing) {
    const char* names[] = {"../x",
                           "..\\x",
                           "safe/..\\..\\x",
                           "/x",
                           "\\x",
                           "C:x",
                           "C:\\x",
                           "\\\\srv\\s\\x",
                           "\\\\?\\C:\\x",
                           "x:ads",
                           "CON",
                           "nul.txt",
                           "trailing.",
                           "trailing ",
                           "../canary/c.txt",
                           "sub/../../canary/c.txt"};
    for (const char* name : names) {
        RestoreScene scene;
        test::WriteFile(scene.archive, test::BuildRawZip({{"ok.txt", "fine"}, {name, "evil"}}));
        const auto before = test::Snapshot(scene.dir.Path());
        RecordingContext context;
        EXPECT_EQ(Restore(scene.archive, scene.target, context), KIVO_E_ARCHIVE_UNSAFE) << name;
        EXPECT_EQ(test::Snapshot(scene.dir.Path()), before) << name;
        EXPECT_EQ(
            context.lines.back().find("还原失败（错误代码 26）：备份文件含有不安全的条目，整个拒绝还原："),
            0u)
            << name;
    }
    // Link entries, whatever they point at.
    const uint32_t link = (0120777u << 16), reparse = 0x400;
    for (uint32_t attributes : {link, reparse}) {
        RestoreScene scene;
        test::WriteFile(scene.archive, test::BuildRawZip({{"ok.txt", "fine"},
                                                          {"l", "../canary", (3 << 8) | 20, attributes}}));
        const auto before = test::Snapshot(scene.dir.Path());
        RecordingContext context;
        EXPECT_EQ(Restore(scene.archive, scene.target, context), KIVO_E_ARCHIVE_UNSAFE);
        EXPECT_EQ(test::Snapshot(scene.dir.Path()), before);
        EXPECT_EQ(context.lines.back(),
                  "还原失败（错误代码 26）：备份文件含有不安全的条目，整个拒绝还原：l：是链接条目");
    }
}

TEST(Archive, RefusesEntriesThatWouldLandOnTheSamePlace) {
    struct Case {
        std::vector<test::RawEntry> entries;
        const char* reason;
    };
    const Case cases[] = {
        {{{"a.txt", "1"}, {"a.txt", "2"}}, "a.txt：重复的条目"},
        {{{"d/a.txt", "1"}, {"d\\a.txt", "2"}}, "d\\a.txt：重复的条目"},
        {{{"x", "file"}, {"x/y", "under a file"}}, "x：文件与目录同名"},
        {{{"x/", ""}, {"x", "file"}}, "x：文件与目录同名"},
    };
    for (const Case& c : cases) {
        RestoreScene scene;
        test::WriteFile(scene.archive, test::BuildRawZip(c.entries));
        const auto before = test::Snapshot(scene.dir.Path());
        RecordingContext context;
        EXPECT_EQ(Restore(scene.archive, scene.target, context), KIVO_E_ARCHIVE_UNSAFE) << c.reason;
        EXPECT_EQ(
            context.lines.back(),
            std::string("还原失败（错误代码 26）：备份文件含有不安全的条目，整个拒绝还原：") + c.reason);
        EXPECT_EQ(test::Snapshot(scene.dir.Path()), before);
    }
}

TEST(Archive, EverySingleBitFlipIsDetectedAndLeavesNothingInTheTarget) {
    ScratchDir dir;
    test::WriteFile(dir / "src/a.txt", "alpha alpha alpha alpha");
    test::WriteFile(dir / "src/d/b.txt", "beta");
    RecordingContext context;
    ASSERT_EQ(Backup(dir / "src", dir / "good.bkp", context), KIVO_OK);
    const std::string good = test::ReadFile(dir / "good.bkp");
    ASSERT_LT(good.size(), 600u);
    std::filesystem::create_directories(dir / "target");
    for (size_t bit = 0; bit < good.size() * 8; ++bit) {
        std::string damaged = good;
        damaged[bit / 8] = char(damaged[bit / 8] ^ (1 << (bit % 8)));
        test::WriteFile(dir / "bad.bkp", damaged);
        RecordingContext quiet;
        const int code = Restore(dir / "bad.bkp", dir / "target", quiet);
        EXPECT_TRUE(code == KIVO_E_ARCHIVE_DAMAGED || code == KIVO_E_ARCHIVE_UNSAFE)
            << "bit " << bit % 8 << " of byte " << bit / 8 << " gave " << code;
        ASSERT_TRUE(std::filesystem::is_empty(dir / "target")) << "bit " << bit % 8 << " of byte " << bit / 8;
    }
}

TEST(Archive, AnExistingFileIsReplacedOnlyByAVerifiedCopy) {
    RestoreScene scene;
    test::WriteFile(scene.dir / "src/existing.txt", "new content");
    RecordingContext context;
    ASSERT_EQ(Backup(scene.dir / "src", scene.dir / "good.bkp", context), KIVO_OK);
    std::string damaged = test::ReadFile(scene.dir / "good.bkp");
    const size_t data = damaged.find("existing.txt") + 12 + 9;  // past the name and the timestamp field
    damaged[data] = char(damaged[data] ^ 0x10);
    test::WriteFile(scene.archive, damaged);
    EXPECT_EQ(Restore(scene.archive, scene.target, context), KIVO_E_ARCHIVE_DAMAGED);
    EXPECT_EQ(test::ReadFile(scene.target / "existing.txt"), "was here");
    EXPECT_EQ(test::Snapshot(scene.target).size(), 1u);

    ASSERT_EQ(Restore(scene.dir / "good.bkp", scene.target, context), KIVO_OK);
    EXPECT_EQ(test::ReadFile(scene.target / "existing.txt"), "new content");
}

TEST(Archive, RestoreNeverWritesThroughALinkInTheTarget) {
    RestoreScene scene;
    std::filesystem::create_directory_symlink(scene.dir / "canary", scene.target / "sub");
    std::filesystem::create_symlink(scene.dir / "canary/c.txt", scene.target / "c.txt");
    test::WriteFile(
        scene.archive,
        test::BuildRawZip({{"c.txt", "replaces the link"}, {"fine.txt", "ok"}, {"sub/d.txt", "evil"}}));
    const auto canary = test::Snapshot(scene.dir / "canary");
    RecordingContext context;
    EXPECT_EQ(Restore(scene.archive, scene.target, context), KIVO_E_PARTIAL);
    EXPECT_EQ(test::Snapshot(scene.dir / "canary"), canary);
    EXPECT_FALSE(std::filesystem::is_symlink(scene.target / "c.txt"));
    EXPECT_EQ(test::ReadFile(scene.target / "c.txt"), "replaces the link");
    EXPECT_EQ(test::ReadFile(scene.target / "fine.txt"), "ok");
    EXPECT_TRUE(std::filesystem::is_symlink(scene.target / "sub"));
    const std::vector<std::string> tail(context.lines.end() - 2, context.lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"还原失败：" + Gbk(scene.target) + "/sub/d.txt：是链接, 不跟随",
                                              "还原失败（错误代码 28）：还原了 2 个文件，1 个未能还原"}));
    EXPECT_EQ(context.boundaries, (std::vector<std::string>{context.lines.front(), context.lines.back()}));
    // Nothing of the staging folder stays behind.
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(scene.target))
        names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"c.txt", "existing.txt", "fine.txt", "sub"}));
}

TEST(Archive, NotEnoughFreeSpaceIsRefusedBeforeAnythingIsWritten) {
    RestoreScene scene;
    test::WriteFile(scene.archive, test::BuildRawZip({{"big.bin", std::string(5000, 'b')}}));
    RunnerOptions options;
    options.freeSpace = [](const fs::Dir&, uint64_t& available, uint64_t& total) {
        available = 4999;
        total = 1 << 20;
        return fs::Status{};
    };
    const auto before = test::Snapshot(scene.dir.Path());
    RecordingContext context;
    EXPECT_EQ(Restore(scene.archive, scene.target, context, options), KIVO_E_WRITE_FAILED);
    // A target folder the restore had to make is gone again.
    EXPECT_EQ(Restore(scene.archive, scene.dir / "new-target", context, options), KIVO_E_WRITE_FAILED);
    EXPECT_EQ(context.lines.back(), "还原失败（错误代码 24）：磁盘空间不足：需要 5000 字节，可用 4999 字节");
    EXPECT_EQ(test::Snapshot(scene.dir.Path()), before);
}

}  // namespace
}  // namespace kivo
