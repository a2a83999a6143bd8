// The profile reader and the Profile library against the platform's own initialization-file
// functions, directory scan and registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/tool_state.h"
#include "profiles/profile_file.h"
#include "profiles/profile_library.h"
#include "profiles/profile_reader.h"
#include "profiles/profile_reader_portable.h"
#include "tests/native/profile_corpus.h"

namespace {

const wchar_t* W(const Utf16* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
const Utf16* U(const wchar_t* s) {
    return reinterpret_cast<const Utf16*>(s);
}

std::string Narrow(const wchar_t* s) {
    return Utf16ToUtf8(U(s), 512);
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((dir + L"*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(dir + name + L"\\");
            else
                DeleteFileW((dir + name).c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

// A fresh folder under the temporary directory, removed with everything in it at the end.
class TempFolder {
  public:
    explicit TempFolder(const wchar_t* name) {
        wchar_t temp[MAX_PATH];
        const DWORD n = GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp, n) + name + L"\\";
        RemoveTree(path_);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() { RemoveTree(path_); }
    const std::wstring& Path() const { return path_; }
    std::wstring Write(const std::wstring& relative, const std::string& bytes) const {
        const std::wstring file = path_ + relative;
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        EXPECT_NE(h, INVALID_HANDLE_VALUE) << Narrow(file.c_str());
        DWORD written = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
        return file;
    }
    void Folder(const std::wstring& relative) const { CreateDirectoryW((path_ + relative).c_str(), nullptr); }

  private:
    std::wstring path_;
};

std::wstring Widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

const ProfileReader kPortable = {PortableReadProfileText, PortableReadProfileInt};

int RunsUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(ProfileReaderConformance, CorpusRecordsMatchThePlatform) {
    TempFolder folder(L"padwarden-profile-corpus");
    int compared = 0;
    for (const corpus::File& f : corpus::ProfileFiles()) {
        // Bytes without a byte-order mark are read in the ANSI code page, which the portable
        // reader takes to be 1252.
        if (f.ansi1252 && GetACP() != 1252)
            continue;
        // What Windows does not document is asserted only where it is known: under Wine.
        if (f.wineOnly && !RunsUnderWine())
            continue;
        const std::wstring name = Widen(f.name);
        const std::wstring path = f.written ? folder.Write(name, f.bytes) : folder.Path() + name;
        ProfileRecord platform, portable;
        std::memset(&platform, 0, sizeof platform);
        std::memset(&portable, 0, sizeof portable);
        const int platformResult = LoadProfileFile(U(path.c_str()), &platform);
        const int portableResult = LoadProfileFileWith(&kPortable, U(path.c_str()), &portable);
        EXPECT_EQ(platformResult, f.accepted ? 1 : 0) << f.name;
        EXPECT_EQ(portableResult, platformResult) << f.name;
        EXPECT_EQ(corpus::Difference(corpus::Expected(f), platform), "") << f.name << " (platform)";
        EXPECT_EQ(corpus::Difference(platform, portable), "") << f.name << " (portable against platform)";
        ++compared;
    }
    EXPECT_GE(compared, 30);
}

TEST(ProfileReaderConformance, SingleReadsMatchThePlatform) {
    TempFolder folder(L"padwarden-profile-reader");
    const std::wstring path = folder.Write(L"reader.ini", corpus::ReaderFile());
    for (const corpus::TextProbe& p : corpus::TextProbes()) {
        const std::string label =
            Narrow(W(p.section)) + "/" + Narrow(W(p.key)) + "/" + std::to_string(p.capacity);
        wchar_t platform[64];
        Utf16 viaPort[64], portable[64];
        std::fill(std::begin(platform), std::end(platform), L'#');
        std::fill(std::begin(portable), std::end(portable), u'#');
        const DWORD platformLength = GetPrivateProfileStringW(W(p.section), W(p.key), W(p.fallback), platform,
                                                              p.capacity, path.c_str());
        const uint32_t portLength =
            ReadProfileText(p.section, p.key, p.fallback, viaPort, p.capacity, U(path.c_str()));
        const uint32_t portableLength =
            PortableReadProfileText(p.section, p.key, p.fallback, portable, p.capacity, U(path.c_str()));
        EXPECT_EQ(std::u16string(U(platform)), std::u16string(p.want)) << label;
        EXPECT_EQ(platformLength, std::u16string(p.want).size()) << label;
        EXPECT_EQ(std::u16string(viaPort), std::u16string(U(platform))) << label;
        EXPECT_EQ(portLength, platformLength) << label;
        EXPECT_EQ(std::u16string(portable), std::u16string(U(platform))) << label;
        EXPECT_EQ(portableLength, platformLength) << label;
    }
    for (const corpus::IntProbe& p : corpus::IntProbes()) {
        const UINT platform = GetPrivateProfileIntW(L"Int", W(p.key), p.fallback, path.c_str());
        EXPECT_EQ(platform, p.want) << Narrow(W(p.key));
        EXPECT_EQ(ReadProfileInt(u"Int", p.key, p.fallback, U(path.c_str())), platform) << Narrow(W(p.key));
        EXPECT_EQ(PortableReadProfileInt(u"Int", p.key, p.fallback, U(path.c_str())), platform)
            << Narrow(W(p.key));
    }
}

const wchar_t kCorvane[] = L"Software\\Corvane";
const wchar_t kPadtuner[] = L"Software\\Corvane\\Padtuner";
const wchar_t kParameters[] = L"Software\\Corvane\\Padtuner\\Parameters";

bool KeyExists(const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Owns "SettingFilePath" for one test: whatever was there before is put back, and keys the test
// created are removed again.
class SettingFilePathValue {
  public:
    SettingFilePathValue() {
        corvaneExisted_ = KeyExists(kCorvane);
        padtunerExisted_ = KeyExists(kPadtuner);
        parametersExisted_ = KeyExists(kParameters);
        HKEY key;
        if (parametersExisted_ &&
            RegOpenKeyExW(HKEY_CURRENT_USER, kParameters, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            DWORD size = sizeof saved_;
            hadValue_ = RegQueryValueExW(key, L"SettingFilePath", nullptr, &savedType_, saved_, &size) ==
                        ERROR_SUCCESS;
            savedSize_ = size;
            RegCloseKey(key);
        }
    }
    ~SettingFilePathValue() {
        if (hadValue_)
            Set(savedType_, saved_, savedSize_);
        else
            Remove();
        if (!parametersExisted_)
            RegDeleteKeyW(HKEY_CURRENT_USER, kParameters);
        if (!padtunerExisted_)
            RegDeleteKeyW(HKEY_CURRENT_USER, kPadtuner);
        if (!corvaneExisted_)
            RegDeleteKeyW(HKEY_CURRENT_USER, kCorvane);
    }
    void Set(DWORD type, const void* data, DWORD size) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kParameters, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, L"SettingFilePath", 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void SetText(const std::wstring& text) {
        Set(REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    void Remove() {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kParameters, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"SettingFilePath");
            RegCloseKey(key);
        }
    }

  private:
    bool corvaneExisted_ = false, padtunerExisted_ = false, parametersExisted_ = false, hadValue_ = false;
    DWORD savedType_ = 0, savedSize_ = 0;
    BYTE saved_[4096] = {};
};

const char kGood[] = "[HEADER]\r\nIniFileVersion=2.0\r\nTitle=";

// The names the platform's scan gives, in its order.
std::vector<std::u16string> ScanNames(const std::wstring& pattern) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(U(found.cFileName));
    while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

TEST(ProfileLibraryWindows, LoadsTheFolderNamedInTheRegistry) {
    SettingFilePathValue value;
    TempFolder root(L"padwarden-library");
    root.Folder(L"lib");
    root.Write(L"lib\\alpha.ini", kGood + std::string("Alpha\r\n"));
    root.Write(L"lib\\bravo.ini", "[HEADER]\r\nTitle=No Version\r\n");
    root.Write(L"lib\\charlie.ini", kGood + std::string("Charlie\r\n"));
    root.Write(L"lib\\notes.txt", kGood + std::string("Not A Profile\r\n"));
    root.Folder(L"lib\\delta.ini");
    root.Write(L"top.ini", kGood + std::string("Top\r\n"));

    value.SetText(root.Path() + L"lib\\");
    auto state = std::make_unique<ToolState>();
    EXPECT_EQ(LoadProfileLibrary(state.get()), 1);
    const std::vector<std::u16string> order = ScanNames(root.Path() + L"lib\\*.ini");
    ASSERT_EQ(order.size(), 4u);
    ASSERT_EQ(state->profileCount, 4u);
    ASSERT_NE(state->profiles, nullptr);
    for (uint32_t i = 0; i < 4; ++i) {
        const ProfileRecord& r = state->profiles[i];
        if (order[i] == u"alpha.ini" || order[i] == u"charlie.ini") {
            EXPECT_EQ(std::u16string(r.FileName), order[i]);
            EXPECT_EQ(std::u16string(r.Title), order[i] == u"alpha.ini" ? u"Alpha" : u"Charlie");
            EXPECT_EQ(r.Setting.Speed2, 30u);
        } else {
            // Title and setting stay zero and the slot is never sent; the name says which file.
            const auto* bytes = reinterpret_cast<const uint8_t*>(&r.Title);
            const auto tail = static_cast<std::ptrdiff_t>(sizeof r - offsetof(ProfileRecord, Title));
            EXPECT_EQ(std::count(bytes, bytes + tail, 0), tail)
                << Narrow(W(order[i].c_str())) << " must leave its slot zero";
            EXPECT_EQ(std::u16string(r.FileName), order[i]);
            EXPECT_EQ(ProfileAccepted(state.get(), i), 0);
        }
    }
    FreeProfileLibrary(state.get());
    EXPECT_EQ(state->profiles, nullptr);

    // The value may name a file in the folder; without a trailing backslash its last component
    // is dropped and the parent folder is scanned.
    value.SetText(root.Path() + L"lib\\last.ini");
    EXPECT_EQ(LoadProfileLibrary(state.get()), 1);
    EXPECT_EQ(state->profileCount, 4u);
    FreeProfileLibrary(state.get());
    value.SetText(root.Path() + L"lib");
    EXPECT_EQ(LoadProfileLibrary(state.get()), 1);
    ASSERT_EQ(state->profileCount, 1u);
    EXPECT_EQ(std::u16string(state->profiles[0].Title), u"Top");
    FreeProfileLibrary(state.get());
}

TEST(ProfileLibraryWindows, UnusableValuesLoadNothing) {
    SettingFilePathValue value;
    TempFolder root(L"padwarden-library-bad");
    root.Write(L"a.ini", kGood + std::string("Alpha\r\n"));
    auto state = std::make_unique<ToolState>();

    value.Remove();
    EXPECT_EQ(LoadProfileLibrary(state.get()), 0);
    EXPECT_EQ(state->profiles, nullptr);

    // A value of 259 units naming a file in the folder is used; 260 units with no terminator are
    // not a path that fits, and must not be read as their first 259.
    std::wstring padded = root.Path();
    padded.resize(259, L'z');
    value.SetText(padded);
    EXPECT_EQ(LoadProfileLibrary(state.get()), 1);
    FreeProfileLibrary(state.get());
    padded.push_back(L'z');
    value.Set(REG_BINARY, padded.data(), 260 * sizeof(wchar_t));
    EXPECT_EQ(LoadProfileLibrary(state.get()), 0);
    EXPECT_EQ(state->profiles, nullptr);

    value.SetText(root.Path() + std::wstring(300, L'x') + L"\\");
    EXPECT_EQ(LoadProfileLibrary(state.get()), 0);

    // Terminated within its data whatever its type, the value is used.
    const std::wstring binary = root.Path();
    value.Set(REG_BINARY, binary.c_str(), static_cast<DWORD>((binary.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(LoadProfileLibrary(state.get()), 1);
    EXPECT_EQ(state->profileCount, 1u);
    FreeProfileLibrary(state.get());
}

} // namespace
