// The pure rules around backup sets: which sets a run may touch (marks and installations), which older
// sets it removes under a clock it cannot trust, and what a reparse point is to a backup.
#include <gtest/gtest.h>

#include <cmath>

#include "backup_set_name.h"
#include "reparse_tag.h"
#include "set_retention.h"
#include "tree_walker.h"

namespace kivo {
namespace {

constexpr int64_t kDay = 86400;
const std::string kOurs(32, 'a'), kTheirs(32, 'b');

TEST(SetMark, NamesItsInstallationAndOldMarksStayOurs) {
    const std::string text = SetMarkText(5, 1700000000, kOurs);
    EXPECT_EQ(text, "kivo backup set\nrule=5\ncreated=1700000000\ninstallation=" + kOurs + "\n");
    ASSERT_TRUE(ParseSetMark(text));
    EXPECT_EQ(ParseSetMark(text)->installation, kOurs);

    struct Row {
        const char* what;
        std::string mark;
        std::string running;  // the installation of the run asking
        bool owned;
    } rows[] = {
        {"ours", SetMarkText(5, 1, kOurs), kOurs, true},
        {"another installation's", SetMarkText(5, 1, kTheirs), kOurs, false},
        {"made before identities", SetMarkText(5, 1), kOurs, true},
        {"another rule's", SetMarkText(6, 1, kOurs), kOurs, false},
        {"ours, asked by a run without an identity", SetMarkText(5, 1, kOurs), "", false},
        {"old, asked by a run without an identity", SetMarkText(5, 1), "", true},
    };
    for (const Row& row : rows) {
        const auto mark = ParseSetMark(row.mark);
        ASSERT_TRUE(mark) << row.what;
        EXPECT_EQ(OwnedBy(*mark, 5, row.running), row.owned) << row.what;
    }
    // An owner that cannot be read is nobody's to touch.
    for (const char* bad :
         {"installation=\n", "installation=xyz\n", "installation=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\n"}) {
        EXPECT_FALSE(ParseSetMark("kivo backup set\nrule=5\ncreated=1\n" + std::string(bad))) << bad;
    }
}

TEST(SetRetention, ScheduleSpacingIsTheLongestGapBetweenRuns) {
    auto schedule = [](uint16_t interval, uint16_t day, uint16_t mask) {
        RunSchedule s{};
        s.interval_minutes = interval;
        s.month_day = day;
        s.week_mask = mask;
        return s;
    };
    EXPECT_EQ(ScheduleSpacing(schedule(15, 0, 0)), 15 * 60);
    EXPECT_EQ(ScheduleSpacing(schedule(0, 0, 0)), kDay);
    EXPECT_EQ(ScheduleSpacing(schedule(0, 0, 127)), kDay);
    EXPECT_EQ(ScheduleSpacing(schedule(0, 0, 1)), 7 * kDay);         // Mondays
    EXPECT_EQ(ScheduleSpacing(schedule(0, 0, 1 | 4)), 5 * kDay);     // Wednesday to Monday
    EXPECT_EQ(ScheduleSpacing(schedule(0, 0, 0x40 | 1)), 6 * kDay);  // Monday to Sunday
    EXPECT_EQ(ScheduleSpacing(schedule(0, 31, 0)), 31 * kDay);
    EXPECT_EQ(ScheduleSpacing(schedule(30, 31, 1)), 30 * 60);  // interval wins, as the schedule says
}

TEST(SetRetention, AClockFarBeyondTheSetsRemovesNothingAndAFutureSetIsKept) {
    const int64_t t0 = 1700000000;
    auto days = [&](std::initializer_list<double> list) {
        std::vector<int64_t> out;
        for (double d : list) out.push_back(t0 + std::llround(d * kDay));
        return out;
    };
    struct Row {
        const char* what;
        std::vector<int64_t> created;
        double now;
        int64_t spacing;
        std::vector<size_t> expired, future;
        std::optional<size_t> beyond;
    } rows[] = {
        {"a normal daily run", days({0, 1, 2, 3}), 4, kDay, {0, 1}, {}, {}},
        {"the clock a year ahead", days({0, 1, 2, 3}), 403, kDay, {}, {}, 3},
        {"a PC off for two weeks", days({0, 1, 2, 3}), 17, kDay, {}, {}, 3},
        {"the run after the two weeks", days({0, 1, 2, 3, 17}), 18, kDay, {0, 1, 2, 3}, {}, {}},
        {"the clock put right after a year ahead", days({0, 1, 2, 3, 403}), 4, kDay, {0, 1}, {4}, {}},
        {"a gap of the interval plus two days exactly", days({0, 1}), 4, kDay, {0, 1}, {}, {}},
        {"one second more", days({0, 1}), 4 + 1.0 / kDay, kDay, {}, {}, 1},
        {"a weekly rule's own gap", days({0, 7}), 16, 7 * kDay, {0, 1}, {}, {}},
        {"a weekly rule far beyond", days({0, 7}), 16 + 1.0 / kDay, 7 * kDay, {}, {}, 1},
        {"an interval rule two days and an hour on", days({0}), 2 + 1.0 / 24, 900, {}, {}, 0},
        // Within a few minutes is not the future: two PCs' clocks differ a little.
        {"a set a minute ahead", days({0, 4 + 60.0 / kDay}), 4, kDay, {0}, {}, {}},
        {"no older set at all", {}, 4, kDay, {}, {}, {}},
    };
    for (const Row& row : rows) {
        const RetentionPlan plan =
            PlanRetention({row.created, t0 + std::llround(row.now * kDay), 3, row.spacing});
        EXPECT_EQ(plan.expired, row.expired) << row.what;
        EXPECT_EQ(plan.future, row.future) << row.what;
        EXPECT_EQ(plan.beyond, row.beyond) << row.what;
    }
}

TEST(ReparsePoints, TheTagSaysWhetherABackupReadsThrough) {
    struct Row {
        const char* what;
        uint32_t tag;
        ReparseClass expected;
    } rows[] = {
        {"symbolic link", 0xA000000C, ReparseClass::Link},
        {"junction or mount point", 0xA0000003, ReparseClass::Link},
        {"Linux subsystem link", 0xA000001D, ReparseClass::Link},
        {"container tombstone", 0xA000001F, ReparseClass::Link},
        {"app alias", 0x8000001B, ReparseClass::Link},
        {"DFS link", 0x8000000A, ReparseClass::Link},
        {"NFS special", 0x80000014, ReparseClass::Link},
        {"no tag known", 0, ReparseClass::Link},
        {"deduplicated", 0x80000013, ReparseClass::Data},
        {"cloud placeholder", 0x9000001A, ReparseClass::Data},
        {"cloud placeholder of a provider", 0x9000301A, ReparseClass::Data},
        {"HSM", 0xC0000004, ReparseClass::Data},
        {"HSM2", 0x80000006, ReparseClass::Data},
        {"single-instance storage", 0x80000007, ReparseClass::Data},
        {"compressed (WOF)", 0x80000017, ReparseClass::Data},
        {"OneDrive", 0x80000021, ReparseClass::Data},
        {"Azure File Sync", 0x8000001E, ReparseClass::Data},
        {"projected file system", 0x9000001C, ReparseClass::Data},
        {"a storage vendor's own", 0x0000ABCD, ReparseClass::Data},
        {"Linux FIFO", 0x80000024, ReparseClass::Special},
        {"Linux character device", 0x80000025, ReparseClass::Special},
        {"Linux block device", 0x80000026, ReparseClass::Special},
        {"Unix socket", 0x80000023, ReparseClass::Special},
    };
    for (const Row& row : rows) EXPECT_EQ(ClassifyReparseTag(row.tag), row.expected) << row.what;
}

TEST(ReparsePoints, OnlyABackupWalksIntoDataAndNeverIntoALink) {
    auto facts = [](fs::Kind kind, uint32_t tag, fs::Kind beneath) {
        fs::Facts f;
        f.kind = kind;
        f.reparseTag = tag;
        f.beneath = beneath;
        return f;
    };
    struct Row {
        const char* what;
        fs::Facts facts;
        fs::Kind backup, clean;  // reading through data, or not
    } rows[] = {
        {"plain file", facts(fs::Kind::File, 0, fs::Kind::Other), fs::Kind::File, fs::Kind::File},
        {"deduplicated file", facts(fs::Kind::Link, 0x80000013, fs::Kind::File), fs::Kind::File,
         fs::Kind::Link},
        {"cloud folder", facts(fs::Kind::Link, 0x9000001A, fs::Kind::Directory), fs::Kind::Directory,
         fs::Kind::Link},
        {"junction", facts(fs::Kind::Link, 0xA0000003, fs::Kind::Directory), fs::Kind::Link, fs::Kind::Link},
        {"POSIX link (no tag)", facts(fs::Kind::Link, 0, fs::Kind::Other), fs::Kind::Link, fs::Kind::Link},
        {"Linux FIFO", facts(fs::Kind::Link, 0x80000024, fs::Kind::File), fs::Kind::Other, fs::Kind::Link},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(WalkKind(row.facts, true), row.backup) << row.what;
        EXPECT_EQ(WalkKind(row.facts, false), row.clean) << row.what;
    }
}

}  // namespace
}  // namespace kivo
