// The version resource as Explorer and the installer read it, and the manifest that runs the app
// as the invoking user, DPI-aware, with common controls v6.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> OwnVersionInfo() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path, &ignored));
    if (info.empty() || !GetFileVersionInfoW(path, 0, static_cast<DWORD>(info.size()), info.data()))
        return {};
    return info;
}

std::wstring StringValue(std::vector<BYTE>& info, const std::wstring& key) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\080404b0\\" + key;
    if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || !value) return L"<missing>";
    return static_cast<const wchar_t*>(value);
}

TEST(VersionInfo, NamesTheProductAndVersionInTheSimplifiedChineseBlock) {
    std::vector<BYTE> info = OwnVersionInfo();
    ASSERT_FALSE(info.empty());

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    const struct {
        const wchar_t* key;
        const wchar_t* value;
    } strings[] = {
        {L"FileVersion", L"2.0.0.1"},
        {L"ProductVersion", L"2.0.0.1"},
        {L"FileDescription", L"备份与清理计划"},
        {L"ProductName", L"备份与清理计划"},
        {L"InternalName", L"plan_desk"},
        {L"OriginalFilename", L"plan_desk"},
    };
    for (const auto& s : strings) EXPECT_EQ(StringValue(info, s.key), s.value) << "key " << s.key;

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);  // exactly one language / code page pair
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);
}

// Keys of the blocks directly under \StringFileInfo, read from the raw VS_VERSIONINFO tree.
std::vector<std::wstring> StringBlockKeys(const std::vector<BYTE>& info) {
    struct Node {
        size_t begin, end, children;
        std::wstring key;
    };
    auto read = [&](size_t at) {
        WORD length, valueLength, type;
        std::memcpy(&length, &info[at], 2);
        std::memcpy(&valueLength, &info[at + 2], 2);
        std::memcpy(&type, &info[at + 4], 2);
        Node node{at, at + length, 0, {}};
        size_t p = at + 6;
        for (wchar_t c; (c = static_cast<wchar_t>(info[p] | info[p + 1] << 8)) != 0; p += 2)
            node.key.push_back(c);
        p = (p + 2 + 3) & ~size_t{3};
        p += type == 1 ? valueLength * 2u : valueLength;
        node.children = (p + 3) & ~size_t{3};
        return node;
    };
    auto childrenOf = [&](const Node& parent) {
        std::vector<Node> nodes;
        for (size_t p = parent.children; p + 6 <= parent.end && p + 6 <= info.size();) {
            Node child = read(p);
            if (child.end <= p) break;
            nodes.push_back(child);
            p = (child.end + 3) & ~size_t{3};
        }
        return nodes;
    };
    std::vector<std::wstring> keys;
    for (const Node& top : childrenOf(read(0))) {
        if (top.key != L"StringFileInfo") continue;
        for (const Node& block : childrenOf(top)) keys.push_back(block.key);
    }
    return keys;
}

TEST(VersionInfo, HasExactlyOneStringBlock) {
    std::vector<BYTE> info = OwnVersionInfo();
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(StringBlockKeys(info), std::vector<std::wstring>{L"080404b0"});
}

TEST(Manifest, RunsAsInvokerDpiAwareWithCommonControls6) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(res, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, res))),
                               SizeofResource(module, res));
    for (const char* needle : {
             R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
             R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/PM</dpiAware>)",
             R"(>PerMonitorV2, PerMonitor</dpiAwareness>)",
             R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
             R"(publicKeyToken="6595b64144ccf1df")",
         }) {
        EXPECT_NE(manifest.find(needle), std::string::npos) << needle;
    }

    // The loader honoured the dependency: the common controls come from the side-by-side store's
    // version 6 assembly, not from the system folder. (Wine's copy reports 5.81 from DllGetVersion,
    // so the path is what tells.)
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH), 0u);
    CharLowerW(path);
    const std::wstring loaded = path;
    EXPECT_NE(loaded.find(L"\\winsxs\\"), std::wstring::npos) << testing::PrintToString(loaded);
    EXPECT_NE(loaded.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
        << testing::PrintToString(loaded);
}

}  // namespace
