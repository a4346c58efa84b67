// Icon 2000 carries a 16, 32 and 48 px image, each a real drawing: opaque pixels of several colours.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "resource.h"

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

std::vector<BYTE> ResourceBytes(LPCWSTR name, LPCWSTR type) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(module, name, type);
    if (!res) return {};
    auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, res)));
    return std::vector<BYTE>(data, data + SizeofResource(module, res));
}

TEST(AppIcon, Has16And32And48PixelImagesThatAreDrawn) {
    std::vector<BYTE> group =
        ResourceBytes(MAKEINTRESOURCEW(IDI_APP), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_GE(group.size(), 6u);
    WORD header[3];
    std::memcpy(header, group.data(), sizeof header);
    ASSERT_EQ(header[1], 1);  // icons, not cursors
    ASSERT_EQ(group.size(), 6 + header[2] * sizeof(GroupIconEntry));

    std::set<int> sizes;
    for (WORD i = 0; i < header[2]; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, group.data() + 6 + i * sizeof entry, sizeof entry);
        const int size = entry.width;
        SCOPED_TRACE(testing::Message() << size << " px");
        sizes.insert(size);
        EXPECT_EQ(entry.height, entry.width);
        EXPECT_EQ(entry.bitCount, 32);

        std::vector<BYTE> image = ResourceBytes(MAKEINTRESOURCEW(entry.id), MAKEINTRESOURCEW(3));  // RT_ICON
        ASSERT_EQ(image.size(), entry.bytesInRes);
        BITMAPINFOHEADER info;
        ASSERT_GE(image.size(), sizeof info);
        std::memcpy(&info, image.data(), sizeof info);
        ASSERT_EQ(info.biWidth, size);
        ASSERT_EQ(info.biHeight, 2 * size);  // colour rows, then the mask
        ASSERT_EQ(info.biBitCount, 32);
        ASSERT_GE(image.size(), info.biSize + size * size * 4u);

        int opaque = 0;
        std::set<DWORD> colours;
        for (int p = 0; p < size * size; ++p) {
            DWORD bgra;
            std::memcpy(&bgra, image.data() + info.biSize + p * 4, 4);
            if (bgra >> 24 == 0) continue;
            ++opaque;
            colours.insert(bgra & 0xFFFFFF);
        }
        EXPECT_GT(opaque, size * size / 3);
        EXPECT_GE(colours.size(), 3u);

        HICON icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, 0));
        EXPECT_NE(icon, nullptr);
        if (icon) DestroyIcon(icon);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32, 48}));
}

}  // namespace
