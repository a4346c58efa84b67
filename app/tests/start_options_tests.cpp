#include "start_options.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::wstring>;

TEST(StartOptions, SwitchesInAnyCaseAndEitherPrefixUnknownArgumentsIgnored) {
    struct Case {
        Args args;
        StartMode mode;
        bool on, quiet, usageFault;
    } cases[] = {
        {{}, StartMode::Normal, false, false, false},
        {{L"/background"}, StartMode::Background, false, false, false},
        {{L"-BackGround"}, StartMode::Background, false, false, false},
        {{L"/BACKGROUND", L"stray", L"/x"}, StartMode::Background, false, false, false},
        {{L"background"}, StartMode::Normal, false, false, false},  // no switch without its prefix
        {{L"/"}, StartMode::Normal, false, false, false},
        {{L"/backgroundx"}, StartMode::Normal, false, false, false},
        {{L"C:\\文件夹\\a.txt", L"/unknown"}, StartMode::Normal, false, false, false},
        {{L"/quiet"}, StartMode::Normal, false, true, false},  // alone it asks nothing
        {{L"/autostart", L"on"}, StartMode::AutoStart, true, false, false},
        {{L"-AutoStart", L"OFF", L"/Quiet"}, StartMode::AutoStart, false, true, false},
        {{L"/quiet", L"/autostart", L"On"}, StartMode::AutoStart, true, true, false},
        {{L"/background", L"/autostart", L"on"}, StartMode::AutoStart, true, false, false},
        {{L"/autostart"}, StartMode::AutoStart, false, false, true},
        {{L"/autostart", L"yes"}, StartMode::AutoStart, false, false, true},
        {{L"/autostart", L"/quiet"}, StartMode::AutoStart, false, false, true},  // the switch is not a value
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args.size()) + " args, first: " +
                     (c.args.empty() ? std::string() : std::string(c.args[0].begin(), c.args[0].end())));
        const StartOptions o = ParseStartOptions(c.args);
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(o.autoStartOn, c.on);
        EXPECT_EQ(o.quiet, c.quiet);
        EXPECT_EQ(o.usageFault, c.usageFault);
    }
}

TEST(AutoStartValue, NamesThisProgramQuotedWithTheBackgroundSwitch) {
    const std::wstring exe = L"C:\\Program Files\\plan_desk\\plan_desk.exe";
    EXPECT_EQ(AutoStartCommand(exe), L"\"C:\\Program Files\\plan_desk\\plan_desk.exe\" /background");
    struct Case {
        std::wstring value;
        bool ours;
    } cases[] = {
        {AutoStartCommand(exe), true},
        {L"\"c:\\program files\\PLAN_DESK\\plan_desk.EXE\" -BACKGROUND", true},
        {L"  \"C:\\Program Files\\plan_desk\\plan_desk.exe\"   /quiet /background  ", true},
        {L"C:\\Program Files\\plan_desk\\plan_desk.exe /background",
         true},                                                       // unquoted, as some tools write it
        {L"\"C:\\Program Files\\plan_desk\\plan_desk.exe\"", false},  // no background switch
        {L"\"C:\\Program Files\\plan_desk\\plan_desk.exe\" /autostart on", false},
        {L"\"D:\\portable\\plan_desk.exe\" /background", false},  // another copy
        {L"\"C:\\Program Files\\plan_desk\\plan_desk.exe.bak\" /background", false},
        {L"\"C:\\Program Files\\plan_desk\\plan_desk.exe\"/background", false},
        {L"C:\\Program Files\\plan_desk\\plan_desk.exex /background", false},
        {L"\"C:\\Program Files\\plan_desk\\plan_desk.exe /background", false},  // unclosed quote
        {L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StartsInBackground(c.value, exe), c.ours) << std::string(c.value.begin(), c.value.end());
    }
}

}  // namespace
