// The application profiles dialog against Wine's real registry: what its buttons and lists leave
// there reads back as the rules the user chose. It needs a display: the desktop tier runs it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "core/shell_win.h"
#include "dialogs/dialogs_win.h"
#include "profiles/application_rules.h"
#include "profiles/profile_record.h"
#include "resources/resource.h"

namespace {

const wchar_t kKey[] = L"Software\\Corvane\\Padwarden\\ApplicationProfiles";

void Command(HWND dialog, int id, int code = BN_CLICKED) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

TEST(AppProfilesOnDesktop, WhatTheDialogSavesReadsBackAsTheRules) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    static ToolState state;
    InitializeToolStateDefaults(&state);
    state.instance = GetModuleHandleW(nullptr);
    static ProfileRecord profiles[2] = {};
    static uint8_t accepted[2] = {1, 1};
    CopyUtf16(profiles[0].FileName, kProfileFileNameChars, u"menu.ini");
    CopyUtf16(profiles[0].Title, kProfileTitleChars, u"Menu");
    CopyUtf16(profiles[1].FileName, kProfileFileNameChars, u"racing.ini");
    CopyUtf16(profiles[1].Title, kProfileTitleChars, u"Racing");
    state.profiles = profiles;
    state.profileCount = 2;
    state.profileAccepted = accepted;
    CopyUtf16(state.lastFrontProgram, kFrontProgramChars, u"C:\\Games\\Game.exe");

    LoadCommonControls();
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_APP_PROFILES), nullptr,
                                     ApplicationProfilesDlgProc, reinterpret_cast<LPARAM>(&state));
    if (dialog == nullptr)
        GTEST_SKIP() << "no display: the desktop tier runs this"; // it fails on any skip
    Command(dialog, IDC_APP_ADD_FRONT);
    Command(dialog, IDC_APP_ADD_FRONT); // listed already: selected, not added twice
    // The new row is selected: Bluetooth gets Racing, the third entry after "No change" and Menu.
    SendDlgItemMessageW(dialog, IDC_APP_BTH, CB_SETCURSEL, 2, 0);
    Command(dialog, IDC_APP_BTH, CBN_SELCHANGE);
    // Another program of the same name is told apart by its full path.
    CopyUtf16(state.lastFrontProgram, kFrontProgramChars, u"D:\\Other\\game.exe");
    Command(dialog, IDC_APP_ADD_FRONT);
    Command(dialog, IDC_APP_ADD_FRONT);
    CheckDlgButton(dialog, IDC_APP_ENABLED, BST_UNCHECKED);
    Command(dialog, IDOK);
    EXPECT_FALSE(IsWindow(dialog));

    wchar_t text[64] = {};
    DWORD size = sizeof text;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"Rule000", RRF_RT_REG_SZ, nullptr, text, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, L"Game.exe||racing.ini");
    size = sizeof text;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"Rule001", RRF_RT_REG_SZ, nullptr, text, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, L"D:\\Other\\game.exe||");
    size = sizeof text;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kKey, L"Rule002", RRF_RT_ANY, nullptr, text, &size),
              ERROR_FILE_NOT_FOUND);
    static ApplicationRules rules;
    ASSERT_EQ(LoadApplicationRules(&rules), 1);
    EXPECT_EQ(rules.enabled, 0);
    ASSERT_EQ(rules.count, 2u);
    EXPECT_EQ(std::memcmp(rules.rules[0].program, u"Game.exe", sizeof u"Game.exe"), 0);
    EXPECT_EQ(rules.rules[0].profile[0][0], 0);
    EXPECT_EQ(std::memcmp(rules.rules[0].profile[1], u"racing.ini", sizeof u"racing.ini"), 0);
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    state.profiles = nullptr;
    state.profileAccepted = nullptr;
}

} // namespace
