#include <gtest/gtest.h>

#include <random>

#include "crc32_fold.h"
#include "runner_test_support.h"
#include "zip_format.h"
#include "zip_reader.h"
#include "zip_writer.h"

namespace kivo::zip {
namespace {

using test::U8;

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

struct Item {
    std::string name;
    std::string data;
    bool directory = false;
};

std::string Write(const std::vector<Item>& items, ZipWriter::Options options = {}) {
    MemorySink sink;
    ZipWriter writer(sink, options);
    for (const Item& item : items) {
        if (item.directory) {
            EXPECT_TRUE(writer.AddDirectory(item.name, 1700000000));
        } else {
            EXPECT_TRUE(writer.BeginFile(item.name, 1700000000, item.data.size()));
            // In uneven pieces, as files arrive from disk.
            for (size_t pos = 0; pos < item.data.size(); pos += 70001) {
                EXPECT_TRUE(
                    writer.Write(item.data.data() + pos, std::min<size_t>(70001, item.data.size() - pos)));
            }
            EXPECT_TRUE(writer.EndFile());
        }
    }
    EXPECT_TRUE(writer.Finish());
    return sink.Bytes();
}

// Opens, extracts every entry and runs the final check; the problem when any step fails.
ZipProblem ReadAll(std::string_view bytes, std::vector<Item>* out = nullptr) {
    MemorySource source(bytes);
    ZipReader reader(source);
    if (!reader.Open()) return reader.Problem();
    for (size_t i = 0; i < reader.Entries().size(); ++i) {
        std::string data;
        if (!reader.Extract(i, [&](const char* p, size_t n) {
                data.append(p, n);
                return true;
            })) {
            return reader.Problem();
        }
        if (out) out->push_back({reader.Entries()[i].name, data, reader.Entries()[i].directory});
    }
    if (!reader.FinishCheck()) return reader.Problem();
    return {};
}

const std::vector<Item>& SampleItems() {
    static const std::vector<Item> items = {
        {"docs/", "", true},
        {"docs/empty.txt", ""},
        {"docs/readme.txt", "hello, backup\n"},
        {U8(u8"docs/中文名.txt"), U8(u8"内容")},
        {"big/", "", true},
        {"big/text.log", std::string(300000, 'x') + "end"},
        {"big/random.bin", RandomBytes(200000, 7)},
    };
    return items;
}

// The folded CRC against zlib's table: every length around its block sizes, any start in memory, any
// CRC before, and long runs.
TEST(Crc32, TheFoldedCrcIsZlibsOnEveryLengthAndAlignment) {
    if (!CpuFoldsCrc32()) GTEST_SKIP() << "this CPU has no carry-less multiply";
    const std::string bytes = RandomBytes(1 << 20, 21);
    std::mt19937 rng(5);
    auto zlib = [&](size_t at, size_t n, uint32_t crc) {
        return uint32_t(::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + at), uInt(n)));
    };
    for (size_t n = 0; n <= 300; ++n) {
        const size_t at = rng() % 64;
        const uint32_t before = n % 3 ? uint32_t(rng()) : 0;
        ASSERT_EQ(Crc32Folded(bytes.data() + at, n, before), zlib(at, n, before)) << n << " at " << at;
    }
    for (size_t n : {size_t(4096), size_t(65536 + 17), bytes.size() - 3}) {
        ASSERT_EQ(Crc32Folded(bytes.data() + 3, n, 0x12345678), zlib(3, n, 0x12345678)) << n;
    }
    // In pieces, as a copy hands them over.
    uint32_t folded = 0;
    for (size_t at = 0; at < bytes.size(); at += 70001)
        folded = Crc32(bytes.data() + at, std::min<size_t>(70001, bytes.size() - at), folded);
    EXPECT_EQ(folded, zlib(0, bytes.size(), 0));
}

TEST(Crc32Combine, EqualsTheCrcOfTheConcatenation) {
    for (size_t a : {0u, 1u, 5u, 1000u}) {
        for (size_t b : {0u, 1u, 7u, 65537u, 300001u}) {
            const std::string x = RandomBytes(a, uint32_t(a + 1)), y = RandomBytes(b, uint32_t(b + 2));
            EXPECT_EQ(Crc32Combine(Crc32(x.data(), x.size()), Crc32(y.data(), y.size()), y.size()),
                      Crc32((x + y).data(), x.size() + y.size()))
                << a << "+" << b;
        }
    }
}

TEST(ZipWriter, RoundTripsThroughTheReader) {
    const std::string bytes = Write(SampleItems());
    std::vector<Item> read;
    ZipProblem problem = ReadAll(bytes, &read);
    ASSERT_EQ(problem.error, ZipError::None) << problem.reason;
    ASSERT_EQ(read.size(), SampleItems().size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].name, SampleItems()[i].name);
        EXPECT_EQ(read[i].data, SampleItems()[i].data) << read[i].name;
        EXPECT_EQ(read[i].directory, SampleItems()[i].directory);
    }
    // Marked as ours: the comment carries the CRC of everything before it.
    const std::string comment = bytes.substr(bytes.size() - kOwnCommentSize);
    EXPECT_EQ(comment.substr(0, kOwnCommentHead.size()), kOwnCommentHead);
    char expected[9];
    std::snprintf(expected, sizeof expected, "%08X", Crc32(bytes.data(), bytes.size() - kOwnCommentSize));
    EXPECT_EQ(comment.substr(kOwnCommentHead.size()), expected);
    MemorySource source(bytes);
    ZipReader reader(source);
    ASSERT_TRUE(reader.Open());
    EXPECT_TRUE(reader.IsOwnArchive());
    EXPECT_EQ(reader.Entries()[1].method, kMethodStored);  // the empty file
    EXPECT_EQ(reader.Entries()[2].method, kMethodDeflate);
    EXPECT_EQ(reader.Entries()[2].mtime, 1700000000);
    EXPECT_EQ(reader.Entries()[3].flags & kFlagUtf8, kFlagUtf8);
}

TEST(ZipWriter, WritesZip64RecordsWhenAskedOrWhenEntriesExceed65534) {
    const std::string forced = Write(SampleItems(), {Z_DEFAULT_COMPRESSION, true});
    EXPECT_NE(forced.find("PK\x06\x06"), std::string::npos);
    EXPECT_NE(forced.find("PK\x06\x07"), std::string::npos);
    std::vector<Item> read;
    ZipProblem problem = ReadAll(forced, &read);
    ASSERT_EQ(problem.error, ZipError::None) << problem.reason;
    EXPECT_EQ(read.back().data, SampleItems().back().data);

    std::vector<Item> many;
    for (int i = 0; i < 70000; ++i) many.push_back({"f" + std::to_string(i), ""});
    const std::string bytes = Write(many);
    const size_t end = bytes.size() - kOwnCommentSize - kEndSize;
    EXPECT_EQ(Get16(reinterpret_cast<const unsigned char*>(bytes.data()) + end + 10), 0xFFFF);
    MemorySource source(bytes);
    ZipReader reader(source);
    ASSERT_TRUE(reader.Open()) << reader.Problem().reason;
    EXPECT_EQ(reader.Entries().size(), 70000u);
    EXPECT_EQ(reader.Entries()[69999].name, "f69999");
}

TEST(ZipReader, ReadsPeerArchivesWithoutOurMarks) {
    const std::string gbkName = "\xD6\xD0\xCE\xC4.txt";  // 中文.txt in GBK, no UTF-8 flag
    const std::string bytes = test::BuildRawZip({
        {"a/", "", (3 << 8) | 20, (040755u << 16) | 0x10},
        {"a/stored.txt", "plain"},
        {"a/deflated.txt", std::string(5000, 'z'), (3 << 8) | 20, 0100644u << 16, 0x0800, true},
        {gbkName, "gbk", 0, 0x20, 0},
        {U8(u8"utf8-无标志.txt"), "u", 0, 0x20, 0},
    });
    std::vector<Item> read;
    ZipProblem problem = ReadAll(bytes, &read);
    ASSERT_EQ(problem.error, ZipError::None) << problem.reason;
    ASSERT_EQ(read.size(), 5u);
    EXPECT_EQ(read[2].data, std::string(5000, 'z'));
    EXPECT_EQ(read[3].name, U8(u8"中文.txt"));
    EXPECT_EQ(read[4].name, U8(u8"utf8-无标志.txt"));
    MemorySource source(bytes);
    ZipReader reader(source);
    ASSERT_TRUE(reader.Open());
    EXPECT_FALSE(reader.IsOwnArchive());
}

TEST(ZipReader, DetectsEverySingleBitFlipOfOurArchive) {
    const std::string bytes = Write({{"d/", "", true}, {"d/a.txt", "alpha alpha alpha"}, {"b.txt", "beta"}});
    ASSERT_EQ(ReadAll(bytes).error, ZipError::None);
    size_t undetected = 0;
    for (size_t bit = 0; bit < bytes.size() * 8; ++bit) {
        std::string damaged = bytes;
        damaged[bit / 8] = char(damaged[bit / 8] ^ (1 << (bit % 8)));
        if (ReadAll(damaged).error == ZipError::None) {
            ++undetected;
            ADD_FAILURE() << "flip of bit " << bit % 8 << " in byte " << bit / 8 << " went unnoticed";
        }
    }
    EXPECT_EQ(undetected, 0u);
}

TEST(ZipReader, RefusesStructuralDamageWithItsReason) {
    const std::string good = test::BuildRawZip({{"a.txt", "abc"}, {"b.txt", "defg"}});
    ASSERT_EQ(ReadAll(good).error, ZipError::None);
    auto patched = [&](size_t offset, std::string_view bytes) {
        std::string s = good;
        s.replace(offset, bytes.size(), bytes);
        return s;
    };
    const size_t cd = good.find("PK\x01\x02");
    const size_t secondLocal = good.find("PK\x03\x04", 1);
    const size_t secondCentral = good.find("PK\x01\x02", cd + 1);
    struct Case {
        std::string bytes;
        ZipError error;
        const char* reason;
    };
    const Case cases[] = {
        {"PK", ZipError::Damaged, "文件太短, 不是 ZIP 归档"},
        {good.substr(0, good.size() - 1), ZipError::Damaged, "找不到 ZIP 结束记录"},
        {good + "junk", ZipError::Damaged, "找不到 ZIP 结束记录"},
        {good.substr(5), ZipError::Damaged, "中央目录位置无效"},
        // Both central headers point at the first local header.
        {patched(secondCentral + 42, std::string(4, '\0')), ZipError::Damaged, "条目相互重叠或不连续"},
        {patched(cd + 8, "\x01\x00"), ZipError::Damaged, "条目已加密, 无法还原"},
        {patched(cd + 10, "\x0C\x00"), ZipError::Damaged, "不支持的压缩方法"},
        {patched(secondLocal + 30, "c"), ZipError::Damaged, "本地文件头与中央目录不符"},
        {patched(secondLocal + 14, std::string(4, '\0')), ZipError::Damaged, "本地文件头与中央目录不符"},
        {patched(secondLocal + 35, "x"), ZipError::Damaged, "CRC 校验不符"},
        {patched(cd + 38, std::string("\x00\x00\x00\xA1", 4)), ZipError::Unsafe, "是链接条目"},
        {patched(cd + 38, std::string("\x00\x04\x00\x00", 4)), ZipError::Unsafe, "是链接条目"},
        {patched(cd + 38, std::string("\x00\x00\x00\x11", 4)), ZipError::Unsafe, "是特殊文件条目"},
        {patched(cd + 46, "/"), ZipError::Unsafe, "是绝对路径"},
    };
    for (const Case& c : cases) {
        ZipProblem p = ReadAll(c.bytes);
        EXPECT_EQ(p.error, c.error) << c.reason;
        EXPECT_EQ(p.reason, c.reason);
    }
}

// Tools that align entries leave gaps between them, or pad the local header's extra field; both are
// standard and restore. What is refused is data that two entries share.
TEST(ZipReader, AlignedArchivesReadAndOverlappingEntriesAreRefused) {
    auto entries = [](size_t alignTo, size_t padding) {
        std::vector<test::RawEntry> out;
        for (const char* name : {"a.txt", "sub/b.bin", "c.txt"}) {
            test::RawEntry e{name, std::string(std::string_view(name).size() * 37, name[0])};
            e.alignTo = alignTo;
            e.localPadding = padding;
            e.deflate = name[0] == 'c';
            out.push_back(e);
        }
        return out;
    };
    const struct {
        const char* shape;
        size_t alignTo, padding;
    } aligned[] = {{"4-byte", 4, 0}, {"page", 4096, 0}, {"padded extra", 0, 3}, {"both", 16, 5}};
    for (const auto& a : aligned) {
        SCOPED_TRACE(a.shape);
        const std::string bytes = test::BuildRawZip(entries(a.alignTo, a.padding));
        std::vector<Item> read;
        ZipProblem p = ReadAll(bytes, &read);
        ASSERT_EQ(p.error, ZipError::None) << p.reason;
        ASSERT_EQ(read.size(), 3u);
        EXPECT_EQ(read[1].name, "sub/b.bin");
        EXPECT_EQ(read[1].data, std::string(9 * 37, 's'));
        EXPECT_EQ(read[2].data, std::string(5 * 37, 'c'));
    }

    // The second entry's data begins inside the first one's: the same bytes would be read twice.
    std::string bytes = test::BuildRawZip(entries(0, 0));
    const size_t cd = bytes.find("PK\x01\x02");
    const size_t secondCentral = bytes.find("PK\x01\x02", cd + 1);
    uint32_t firstEnd = uint32_t(kLocalHeaderSize + 5 + 5 * 37);
    for (uint32_t offset : {firstEnd - 1, firstEnd - 30}) {
        std::string overlapped = bytes;
        overlapped.replace(secondCentral + 42, 4, std::string(reinterpret_cast<const char*>(&offset), 4));
        EXPECT_EQ(ReadAll(overlapped).reason, "条目相互重叠或不连续") << offset;
    }
}

TEST(ZipReader, NeverInflatesMoreThanTheDeclaredSize) {
    // A deflate stream of 1 MB of zeros that claims to hold 10 bytes.
    std::string bytes = test::BuildRawZip(
        {{"bomb", std::string(1 << 20, '\0'), (3 << 8) | 20, 0100644u << 16, 0x0800, true}});
    const size_t cd = bytes.find("PK\x01\x02");
    const std::string ten("\x0A\x00\x00\x00", 4);
    bytes.replace(cd + 24, 4, ten);
    bytes.replace(22, 4, ten);
    size_t delivered = 0;
    MemorySource source(bytes);
    ZipReader reader(source);
    ASSERT_TRUE(reader.Open()) << reader.Problem().reason;
    EXPECT_FALSE(reader.Extract(0, [&](const char*, size_t n) {
        delivered += n;
        return true;
    }));
    EXPECT_EQ(reader.Problem().reason, "解压后的长度不符");
    EXPECT_LE(delivered, 10u);
}

TEST(DosTime, RoundTripsLocalTimeInTwoSecondSteps) {
    for (int64_t t : {int64_t(315532800 + 86400 * 400), int64_t(1700000000), int64_t(4102444798)}) {
        DosTime dos = DosTimeFromUtc(t);
        int64_t back = 0;
        ASSERT_TRUE(UtcFromDosTime(dos, back));
        EXPECT_EQ(back, t - (t % 2 != 0 ? 1 : 0)) << t;
    }
    DosTime early = DosTimeFromUtc(0);
    EXPECT_EQ(early.date, 0x21);  // clamped to 1980-01-01
    int64_t ignored;
    EXPECT_FALSE(UtcFromDosTime({0, 0x0000}, ignored));  // month 0
}

}  // namespace
}  // namespace kivo::zip
