// The Win32 layer's own choices, run against Wine's real menus and strings: what a profile
// sub-menu offers for refused files.
#include <gtest/gtest.h>

#include <string>

#include "app/shell_win.h"
#include "profiles/profile_library.h"
#include "profiles/profile_record.h"

namespace {

std::wstring ItemText(HMENU menu, UINT position) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

TEST(ProfileMenu, RefusedFilesAreGreyedNamedAndKeepTheirIds) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    static ProfileRecord records[3] = {};
    uint8_t accepted[3] = {1, 0, 0};
    CopyUtf16(records[0].Title, kProfileTitleChars, u"Racing");
    CopyUtf16(records[0].FileName, kProfileFileNameChars, u"racing.ini");
    CopyUtf16(records[1].FileName, kProfileFileNameChars, u"Padtuner.ini");
    state.profiles = records;
    state.profileAccepted = accepted;
    state.profileCount = 3;

    for (int transport = 0; transport < 2; ++transport) {
        HMENU menu = BuildProfileMenu(&state, transport);
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(GetMenuItemCount(menu), 3);
        const UINT first = transport == 0 ? 0x8000 : 0x8100;
        for (UINT i = 0; i < 3; ++i) {
            EXPECT_EQ(GetMenuItemID(menu, static_cast<int>(i)), first + i);
            const UINT menuState = GetMenuState(menu, i, MF_BYPOSITION);
            EXPECT_EQ((menuState & MF_GRAYED) != 0, accepted[i] == 0) << i;
        }
        EXPECT_EQ(ItemText(menu, 0), L"Racing");
        EXPECT_EQ(ItemText(menu, 1), L"Padtuner.ini");
        EXPECT_EQ(ItemText(menu, 2), L"(unreadable)");
        DestroyMenu(menu);
    }
    state.profiles = nullptr;
    state.profileAccepted = nullptr;
    state.profileCount = 0;
}

} // namespace
