#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "core/tool_state.h"
#include "profiles/profile_library.h"
#include "profiles/profile_library_native.h"
#include "profiles/profile_record.h"

namespace {

namespace fs = std::filesystem;

const char kGood[] = "[HEADER]\r\nIniFileVersion=2.0\r\nTitle=";

class LibraryFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / "padwarden-library-test";
        fs::remove_all(root_);
        fs::create_directories(root_);
        state_ = std::make_unique<ToolState>();
    }
    void TearDown() override {
        FreeProfileLibrary(state_.get());
        SetNativeSettingFilePath(nullptr);
        fs::remove_all(root_);
    }
    void Write(const fs::path& file, const std::string& bytes) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
    }
    void Profile(const fs::path& file, const std::string& title) { Write(file, kGood + title + "\r\n"); }
    void Point(const std::string& value) { SetNativeSettingFilePath(fs::path(value).u16string().c_str()); }
    std::u16string Title(uint32_t i) const { return state_->profiles[i].Title; }
    std::u16string Name(uint32_t i) const { return state_->profiles[i].FileName; }
    // A refused file's slot: empty title, zero setting block, never sent. Its name may stay.
    bool AllZero(uint32_t i) const {
        const auto* p = reinterpret_cast<const uint8_t*>(&state_->profiles[i]);
        for (size_t k = offsetof(ProfileRecord, Title); k < sizeof(ProfileRecord); ++k)
            if (p[k] != 0)
                return false;
        return ProfileAccepted(state_.get(), i) == 0;
    }
    std::u16string MenuText(uint32_t i) const {
        Utf16 text[kProfileTitleChars];
        return ProfileMenuText(state_.get(), i, text, kProfileTitleChars) ? std::u16string(text) : u"?";
    }

    fs::path root_;
    std::unique_ptr<ToolState> state_;
};

TEST_F(LibraryFolder, SecondOfThreeRejectedKeepsAZeroSlot) {
    Profile(root_ / "p" / "a.ini", "Alpha");
    Write(root_ / "p" / "b.ini", "[HEADER]\r\nTitle=No Version\r\n");
    Profile(root_ / "p" / "c.ini", "Gamma");
    Point(root_.string() + "/p/");
    EXPECT_EQ(LoadProfileLibrary(state_.get()), 1);
    ASSERT_EQ(state_->profileCount, 3u);
    ASSERT_NE(state_->profiles, nullptr);
    EXPECT_EQ(Title(0), u"Alpha");
    EXPECT_EQ(Name(0), u"a.ini");
    EXPECT_TRUE(AllZero(1));
    EXPECT_EQ(Name(1), u"b.ini");
    EXPECT_EQ(ProfileAccepted(state_.get(), 0), 1);
    EXPECT_EQ(ProfileAccepted(state_.get(), 2), 1);
    EXPECT_EQ(ProfileAccepted(state_.get(), 3), 0) << "beyond the count";
    EXPECT_EQ(MenuText(0), u"Alpha");
    EXPECT_EQ(MenuText(1), u"b.ini") << "a refused file is named in its greyed item";
    EXPECT_EQ(Title(2), u"Gamma");
    EXPECT_EQ(Name(2), u"c.ini");
    EXPECT_EQ(state_->profiles[2].Setting.Interval, 8000u);

    FreeProfileLibrary(state_.get());
    EXPECT_EQ(state_->profiles, nullptr);
    EXPECT_EQ(state_->profileCount, 0u);
}

TEST_F(LibraryFolder, ScanOrderIsKeptWhateverTheTitles) {
    Profile(root_ / "p" / "1.ini", "Zulu");
    Profile(root_ / "p" / "2.ini", "Alpha");
    Profile(root_ / "p" / "3.ini", "Alpha");
    Point(root_.string() + "/p/");
    EXPECT_EQ(LoadProfileLibrary(state_.get()), 1);
    ASSERT_EQ(state_->profileCount, 3u);
    EXPECT_EQ(Title(0), u"Zulu");
    EXPECT_EQ(Name(1), u"2.ini");
    EXPECT_EQ(Name(2), u"3.ini");
}

TEST_F(LibraryFolder, ValueNamesTheFolderByItsDirectoryPart) {
    Profile(root_ / "parent.ini", "In Parent");
    Profile(root_ / "Profiles" / "inside.ini", "Inside");
    Profile(root_ / "Profiles" / "LOUD.INI", "Loud");
    Write(root_ / "Profiles" / "notes.ini.bak", kGood + std::string("Backup\r\n"));
    Write(root_ / "Profiles" / "readme.txt", "text");
    struct Case {
        std::string value;
        std::u16string firstTitle;
        uint32_t count;
    };
    const Case cases[] = {
        {root_.string() + "/Profiles/", u"Inside", 2},
        {root_.string() + "/Profiles/last.ini", u"Inside", 2},
        // Without a trailing separator the last component is dropped: the parent is scanned.
        {root_.string() + "/Profiles", u"In Parent", 1},
    };
    for (const Case& c : cases) {
        Point(c.value);
        EXPECT_EQ(LoadProfileLibrary(state_.get()), 1) << c.value;
        ASSERT_EQ(state_->profileCount, c.count) << c.value;
        EXPECT_EQ(Title(0), c.firstTitle) << c.value;
        FreeProfileLibrary(state_.get());
    }
}

TEST(ProfileMenuText, TitlesAndNamesAreCutWithoutSplittingASurrogatePair) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    static ProfileRecord records[4] = {};
    uint8_t accepted[4] = {1, 0, 1, 0};
    const std::u16string face = u"\U0001F600";
    const std::u16string title = std::u16string(30, u't') + u"x";
    CopyUtf16(records[0].Title, kProfileTitleChars, title.c_str());
    CopyUtf16(records[1].FileName, kProfileFileNameChars,
              (std::u16string(30, u'n') + face + u".ini").c_str());
    CopyUtf16(records[2].FileName, kProfileFileNameChars, u"untitled.ini"); // accepted, empty title
    state.profiles = records;
    state.profileAccepted = accepted;
    state.profileCount = 4;
    Utf16 out[kProfileTitleChars];
    ASSERT_EQ(ProfileMenuText(&state, 0, out, kProfileTitleChars), 1);
    EXPECT_EQ(std::u16string(out), title);
    ASSERT_EQ(ProfileMenuText(&state, 1, out, kProfileTitleChars), 1);
    EXPECT_EQ(std::u16string(out), std::u16string(30, u'n')) << "the pair is dropped whole";
    ASSERT_EQ(ProfileMenuText(&state, 2, out, kProfileTitleChars), 1);
    EXPECT_EQ(std::u16string(out), u"untitled.ini");
    EXPECT_EQ(ProfileMenuText(&state, 3, out, kProfileTitleChars), 0) << "no name: unreadable";
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(ProfileMenuText(&state, 4, out, kProfileTitleChars), 0);
    Utf16 small[4];
    ASSERT_EQ(ProfileMenuText(&state, 0, small, 4), 1);
    EXPECT_EQ(std::u16string(small), u"ttt");
    state.profiles = nullptr;
    state.profileAccepted = nullptr;
    state.profileCount = 0;
}

TEST_F(LibraryFolder, FolderNamedIniCountsAsAZeroSlot) {
    Profile(root_ / "p" / "a.ini", "Alpha");
    fs::create_directories(root_ / "p" / "b.ini");
    Point(root_.string() + "/p/");
    EXPECT_EQ(LoadProfileLibrary(state_.get()), 1);
    ASSERT_EQ(state_->profileCount, 2u);
    EXPECT_EQ(Title(0), u"Alpha");
    EXPECT_TRUE(AllZero(1));
    EXPECT_EQ(MenuText(1), u"b.ini");
}

TEST_F(LibraryFolder, NothingAcceptedOrNothingFound) {
    Write(root_ / "only-bad" / "x.ini", "[HEADER]\r\n");
    fs::create_directories(root_ / "empty");
    Point(root_.string() + "/only-bad/");
    EXPECT_EQ(LoadProfileLibrary(state_.get()), 0);
    EXPECT_EQ(state_->profileCount, 1u) << "a library of refused files is still stored";
    ASSERT_NE(state_->profiles, nullptr);
    EXPECT_TRUE(AllZero(0));

    for (const std::string& value : {root_.string() + "/empty/", root_.string() + "/absent/"}) {
        Point(value);
        EXPECT_EQ(LoadProfileLibrary(state_.get()), 0) << value;
        EXPECT_EQ(state_->profiles, nullptr) << value;
        EXPECT_EQ(state_->profileCount, 0u) << value;
    }
    SetNativeSettingFilePath(nullptr);
    EXPECT_EQ(LoadProfileLibrary(state_.get()), 0);
    EXPECT_EQ(state_->profiles, nullptr);
    EXPECT_EQ(LoadProfileLibrary(nullptr), 0);
}

TEST_F(LibraryFolder, PathsBeyond259UnitsAreSkippedNotCut) {
    // A folder whose pattern still fits, holding a file whose full path does not.
    fs::path deep = root_;
    while (deep.string().size() < 200)
        deep /= "d123456789";
    const std::string longName = std::string(70, 'n') + ".ini";
    Profile(deep / "a.ini", "Short");
    Profile(deep / longName, "Long");
    // The cut path would name this file; it must never be read in the long one's place.
    const std::string cutName =
        (deep / longName).string().substr(deep.string().size() + 1, 259 - deep.string().size() - 1);
    Profile(deep / cutName, "Impostor");
    Point(deep.string() + "/");
    EXPECT_EQ(LoadProfileLibrary(state_.get()), 1);
    ASSERT_EQ(state_->profileCount, 2u);
    for (uint32_t i = 0; i < state_->profileCount; ++i) {
        EXPECT_NE(Title(i), u"Long");
        EXPECT_NE(Title(i), u"Impostor");
        if (Title(i) != u"Short") {
            EXPECT_TRUE(AllZero(i));
        }
        if (Name(i).empty()) {
            EXPECT_EQ(MenuText(i), u"?") << "no name to show: the caller's unreadable text";
        }
    }
    EXPECT_EQ(Title(0), u"Short");

    // A folder whose search pattern does not fit: nothing is scanned.
    fs::path deeper = deep;
    while (deeper.string().size() < 256)
        deeper /= "e";
    Profile(deeper / "a.ini", "Too Deep");
    Point(deeper.string() + "/");
    EXPECT_EQ(LoadProfileLibrary(state_.get()), 0);
    EXPECT_EQ(state_->profiles, nullptr);

    // A registry value that does not fit 260 units.
    Point("/" + std::string(300, 'v') + "/");
    EXPECT_EQ(LoadProfileLibrary(state_.get()), 0);
}

TEST(ProfileLibrary, SplitKeepsDriveAndDirectory) {
    struct Case {
        const char16_t* path;
        const char16_t* drive;
        const char16_t* directory;
    };
    const Case cases[] = {
        {u"D:\\Profiles\\", u"D:", u"\\Profiles\\"},
        {u"D:\\Profiles\\last.ini", u"D:", u"\\Profiles\\"},
        {u"D:\\Profiles", u"D:", u"\\"},
        {u"D:Profiles", u"D:", u""},
        {u"\\\\server\\share\\p\\x.ini", u"", u"\\\\server\\share\\p\\"},
        {u"C:/a\\b/c", u"C:", u"/a\\b/"},
        {u"Profiles", u"", u""},
        {u"", u"", u""},
        {u"1:x", u"1:", u""},
        {u"x:", u"x:", u""},
    };
    for (const Case& c : cases) {
        Utf16 drive[8] = {u'?'};
        Utf16 dir[260] = {u'?'};
        ASSERT_EQ(SplitProfileFolder(c.path, drive, 8, dir, 260), 1);
        EXPECT_EQ(std::u16string(drive), c.drive);
        EXPECT_EQ(std::u16string(dir), c.directory);
    }
    // 259 units of directory fit with the terminator; 260 do not.
    const std::u16string fits = u"C:" + std::u16string(258, u'a') + u"\\";
    const std::u16string over = u"C:" + std::u16string(259, u'a') + u"\\";
    Utf16 drive[8], dir[260];
    EXPECT_EQ(SplitProfileFolder(fits.c_str(), drive, 8, dir, 260), 1);
    EXPECT_EQ(Utf16Length(dir, 260), 259u);
    EXPECT_EQ(SplitProfileFolder(over.c_str(), drive, 8, dir, 260), 0);
    EXPECT_EQ(drive[0], 0);
    EXPECT_EQ(dir[0], 0);
    EXPECT_EQ(SplitProfileFolder(u"C:\\", drive, 2, dir, 260), 0);
}

TEST(ProfileLibrary, JoinAddsSeparatorsAndRefusesToCut) {
    struct Case {
        const char16_t* drive;
        const char16_t* dir;
        const char16_t* name;
        const char16_t* ext;
        const char16_t* want;
    };
    const Case cases[] = {
        {u"D:", u"\\Profiles\\", u"*", u"ini", u"D:\\Profiles\\*.ini"},
        {u"D:", u"\\Profiles", u"*", u".ini", u"D:\\Profiles\\*.ini"},
        {u"D:", u"/p/", u"a.ini", nullptr, u"D:/p/a.ini"},
        {u"", u"", u"*", u"ini", u"*.ini"},
        {nullptr, u"dir", u"x", u"", u"dir\\x"},
        {u"D", u"", u"x", nullptr, u"D:x"},
    };
    for (const Case& c : cases) {
        Utf16 out[260];
        ASSERT_EQ(JoinProfilePath(out, 260, c.drive, c.dir, c.name, c.ext), 1);
        EXPECT_EQ(std::u16string(out), c.want);
    }
    // "C:" + 252 + "\" + "*.ini" is 260 units: one too many for the terminator.
    const std::u16string dir252(252, u'a');
    const std::u16string dir251(251, u'a');
    Utf16 out[260];
    EXPECT_EQ(JoinProfilePath(out, 260, u"C:", dir251.c_str(), u"*", u"ini"), 1);
    EXPECT_EQ(Utf16Length(out, 260), 259u);
    EXPECT_EQ(JoinProfilePath(out, 260, u"C:", dir252.c_str(), u"*", u"ini"), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(JoinProfilePath(out, 260, u"C:", dir252.c_str(), u"*", nullptr), 1);
    EXPECT_EQ(JoinProfilePath(out, 4, u"C:", u"\\", u"x", nullptr), 0);
}

TEST(ProfileLibrary, MenuIdsStayInsideEachTransportsRange) {
    struct Case {
        int transport;
        uint32_t index;
        uint32_t want;
    };
    const Case cases[] = {
        {0, 0, 0x8000}, {0, 2, 0x8002}, {0, 255, 0x80FF}, {0, 256, 0}, {0, 0xFFFFFFFF, 0},
        {1, 0, 0x8100}, {1, 1, 0x8101}, {1, 255, 0x81FF}, {1, 256, 0}, {7, 3, 0x8103},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProfileCommandId(c.transport, c.index), c.want) << c.transport << "/" << c.index;
    EXPECT_EQ(ProfileMenuCount(0), 0u);
    EXPECT_EQ(ProfileMenuCount(3), 3u);
    EXPECT_EQ(ProfileMenuCount(256), 256u);
    EXPECT_EQ(ProfileMenuCount(300), 256u);
    for (uint32_t i = 0; i < ProfileMenuCount(100000); ++i) {
        EXPECT_LT(ProfileCommandId(0, i), 0x8100u);
        EXPECT_LT(ProfileCommandId(1, i), 0x8200u);
    }
}

} // namespace
