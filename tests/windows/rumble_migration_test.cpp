// The rumble settings migration against Wine's real registry.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>
#include <string>

#include "rumble/rumble_win.h"

namespace {

const wchar_t kSource[] = L"SYSTEM\\CurrentControlSet\\services\\dualshock3\\Rumble";
const wchar_t kDestination[] = L"Software\\Corvane\\Shakewell";

class RumbleMigration : public ::testing::Test {
  protected:
    void SetUp() override { Clean(); }
    void TearDown() override {
        EXPECT_EQ(notWritten, 0u);
        Clean();
    }
    static void Clean() {
        // A test may have left the source readable only; as its owner we may give access back.
        SetAccess(HKEY_LOCAL_MACHINE, kSource, L"D:(A;;KA;;;WD)");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSource);
        RegDeleteTreeW(HKEY_CURRENT_USER, kDestination);
    }
    static int SetAccess(HKEY root, const wchar_t* path, const wchar_t* sddl) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root, path, 0, WRITE_DAC, &key) != ERROR_SUCCESS)
            return 0;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        int done = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                                        nullptr) &&
                   RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
        LocalFree(descriptor);
        RegCloseKey(key);
        return done;
    }
    static void Put(HKEY root, const wchar_t* path, const std::wstring& name, DWORD type, const void* data,
                    DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The value's type and bytes, or type REG_NONE with no bytes when it is missing.
    static std::string Get(HKEY root, const wchar_t* path, const std::wstring& name, DWORD* type) {
        BYTE data[256];
        DWORD size = sizeof data;
        *type = REG_NONE;
        if (RegGetValueW(root, path, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, type, data, &size) !=
            ERROR_SUCCESS) {
            *type = REG_NONE;
            return std::string();
        }
        return std::string(reinterpret_cast<char*>(data), size);
    }
    uint32_t notWritten = 0;
    static std::string Row(char fill) {
        std::string row(24, fill);
        row[0] = 1;
        row[23] = static_cast<char>(0xFF);
        return row;
    }
};

TEST_F(RumbleMigration, RowsAreCopiedWithNamesAndBytesAndTheSourceKeepsThem) {
    const std::wstring names[] = {L"Pad A", L"Pad B", L"Pad C"};
    for (int i = 0; i < 3; ++i)
        Put(HKEY_LOCAL_MACHINE, kSource, names[i], REG_BINARY, Row(static_cast<char>('a' + i)).data(), 24);
    // A destination value of the same name is overwritten; another one stays.
    Put(HKEY_CURRENT_USER, kDestination, L"Pad B", REG_BINARY, "old", 3);
    Put(HKEY_CURRENT_USER, kDestination, L"Other", REG_DWORD, "\x07\0\0\0", 4);
    ASSERT_EQ(MigrateRumbleSettings(&notWritten), 1);
    for (int i = 0; i < 3; ++i) {
        DWORD type = 0;
        EXPECT_EQ(Get(HKEY_CURRENT_USER, kDestination, names[i], &type), Row(static_cast<char>('a' + i)));
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(Get(HKEY_LOCAL_MACHINE, kSource, names[i], &type), Row(static_cast<char>('a' + i)));
    }
    DWORD type = 0;
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kDestination, L"Other", &type), std::string("\x07\0\0\0", 4));
    // Running it again copies the same rows again.
    EXPECT_EQ(MigrateRumbleSettings(&notWritten), 1);
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kDestination, names[0], &type), Row('a'));
}

TEST_F(RumbleMigration, LongNamesAndOddValues) {
    const std::wstring name63(63, L'n');
    const std::wstring name64(64, L'm');
    Put(HKEY_LOCAL_MACHINE, kSource, L"short", REG_BINARY, Row('s').data(), 23);
    Put(HKEY_LOCAL_MACHINE, kSource, L"long", REG_BINARY, (Row('l') + "x").data(), 25);
    Put(HKEY_LOCAL_MACHINE, kSource, L"empty", REG_BINARY, "", 0);
    Put(HKEY_LOCAL_MACHINE, kSource, name64, REG_BINARY, Row('m').data(), 24);
    Put(HKEY_LOCAL_MACHINE, kSource, L"after", REG_BINARY, Row('a').data(), 24);
    Put(HKEY_LOCAL_MACHINE, kSource, name63, REG_BINARY, Row('n').data(), 24);
    ASSERT_EQ(MigrateRumbleSettings(&notWritten), 1);
    DWORD type = 0;
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kDestination, name63, &type), Row('n'));
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kDestination, L"after", &type), Row('a'));
    for (const std::wstring& odd :
         {std::wstring(L"short"), std::wstring(L"long"), std::wstring(L"empty"), name64}) {
        EXPECT_EQ(Get(HKEY_CURRENT_USER, kDestination, odd, &type), std::string());
        EXPECT_EQ(type, static_cast<DWORD>(REG_NONE));
    }
}

TEST_F(RumbleMigration, MissingSourceFailsAndEmptySourceSucceeds) {
    EXPECT_EQ(MigrateRumbleSettings(&notWritten), 0);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, kDestination, 0, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSource, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(MigrateRumbleSettings(&notWritten), 1);
}

// The copy only reads the source: a key that grants this account nothing more is copied all the same.
TEST_F(RumbleMigration, ReadOnlySourceIsCopied) {
    Put(HKEY_LOCAL_MACHINE, kSource, L"Pad", REG_BINARY, Row('r').data(), 24);
    ASSERT_EQ(SetAccess(HKEY_LOCAL_MACHINE, kSource, L"D:P(A;;KR;;;WD)"), 1);
    HKEY probe = nullptr;
    ASSERT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSource, 0, KEY_ALL_ACCESS, &probe), ERROR_SUCCESS)
        << "the registry gives full access anyway: this test would prove nothing";
    ASSERT_EQ(MigrateRumbleSettings(&notWritten), 1);
    DWORD type = 0;
    EXPECT_EQ(Get(HKEY_CURRENT_USER, kDestination, L"Pad", &type), Row('r'));
}

// Writes that fail are counted, whatever the reason: here the destination key was deleted under
// the copy's open handle, so every write is refused while the listing still runs to its end.
TEST_F(RumbleMigration, FailedWritesAreCounted) {
    for (const wchar_t* name : {L"A", L"B", L"C"})
        Put(HKEY_LOCAL_MACHINE, kSource, name, REG_BINARY, Row('w').data(), 24);
    Put(HKEY_LOCAL_MACHINE, kSource, L"odd", REG_BINARY, "x", 1);
    HKEY from = nullptr, to = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSource, 0, KEY_READ, &from), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kDestination, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &to,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, kDestination), ERROR_SUCCESS);
    uint32_t failed = 0;
    EXPECT_EQ(CopyRumbleRows(from, to, &failed), 1);
    EXPECT_EQ(failed, 3u) << "the skipped odd value is not a failure";
    RegCloseKey(to);
    RegCloseKey(from);
}

} // namespace
