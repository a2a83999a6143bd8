// Rules of the application core: settings bounds, the debug switch, command gating.
#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/dispatch.h"
#include "app/settings.h"
#include "core/tool_state.h"
#include "monitor/command_availability.h"
#include "monitor/menu_model.h"
#include "resources/resource.h"

namespace {

struct ClampCase {
    uint32_t interval, speed, wantInterval, wantSpeed;
};

TEST(ToolSettings, ClampingBoundsIntervalAndFrameLength) {
    const ClampCase cases[] = {
        {100, 10, 100, 10},       // defaults untouched
        {50, 10, 100, 10},        // interval below range
        {5000, 10, 1000, 10},     // interval above range
        {0, 0, 100, 1},           // nothing stored at all
        {100, 0, 100, 1},         // speed 0 becomes 1
        {200, 0, 200, 1},         // 100 / 200 is 0, then the floor of 1
        {1000, 31, 1000, 30},     // frame longer than 30 s
        {100, 301, 100, 300},     // speed above 300
        {150, 250, 150, 200},     // 37.5 s frame cut to 30 s
        {1000, 30, 1000, 30},     // exactly 30 s stays
        {0xFFFFFFFF, 5, 1000, 5}, // huge interval
        // Speeds whose 32-bit product with the interval wraps to a small number: they must not
        // pass as short frames.
        {1000, 4294968u, 1000, 30},
        {100, 42949673u, 100, 300},
        {256, 16777216u, 256, 117},
        {100, 0xFFFFFFFF, 100, 300},
    };
    for (const ClampCase& c : cases) {
        uint32_t interval = c.interval, speed = c.speed;
        ClampToolSettings(&interval, &speed);
        EXPECT_EQ(interval, c.wantInterval) << c.interval << "/" << c.speed;
        EXPECT_EQ(speed, c.wantSpeed) << c.interval << "/" << c.speed;
    }
}

TEST(ToolSettings, StoredFormRoundTripsEveryValueInWriteOrder) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    state.toolSettingPlace = {0, 1, 2};
    state.versionPlace = {0, 3, 4};
    state.rumblePlace = {0, 5, 6};
    state.usbAutoFirePlace = {0, 7, 8};
    state.bthAutoFirePlace = {0, 9, 10};
    state.usbInformationPlace = {0, 0, 11, 12};
    state.bthInformationPlace = {0, 0, 13, 14};
    state.threadInterval = 250;
    state.enableTrayIcon = 0;
    state.enableAnimationIcon = 0;
    state.enableNotifyPSButton = 0;
    state.enableNotifyLowBattery = 1;
    state.iconAnimationSpeed = 42;
    StoredToolSettings stored;
    CaptureToolSettings(&state, &stored);
    for (int i = 0; i < kPositionSettingCount; ++i)
        EXPECT_EQ(stored.positions[i], i + 1) << "position " << i;
    const uint32_t dwords[] = {250, 0, 0, 0, 1, 42};
    for (int i = 0; i < kDwordSettingCount; ++i)
        EXPECT_EQ(stored.dwords[i], dwords[i]) << "value " << i;
    // The names pair with the values captured at the same index.
    EXPECT_EQ(std::u16string(kToolSettingNames[10]), u"USBInformationPosX");
    EXPECT_EQ(std::u16string(kToolSettingNames[6]), u"USBRapidFireSettingPosX");
    EXPECT_EQ(std::u16string(kToolSettingNames[19]), u"IconAnimationSpeed");

    static ToolState other;
    InitializeToolStateDefaults(&other);
    ApplyToolSettings(&other, &stored);
    StoredToolSettings again;
    CaptureToolSettings(&other, &again);
    EXPECT_EQ(0, memcmp(&stored, &again, sizeof stored));
}

TEST(ToolState, DefaultsAfterInitialisation) {
    static ToolState state;
    state.usbDeviceCount = 1;
    state.profileCount = 9;
    state.versionPlace.open = 1;
    InitializeToolStateDefaults(&state);
    EXPECT_EQ(state.threadInterval, 100u);
    EXPECT_EQ(state.running.load(), 1);
    EXPECT_EQ(state.enableTrayIcon, 1);
    EXPECT_EQ(state.enableAnimationIcon.load(), 1);
    EXPECT_EQ(state.enableNotifyPSButton.load(), 1);
    EXPECT_EQ(state.enableNotifyLowBattery.load(), 0);
    EXPECT_EQ(state.iconAnimationSpeed.load(), 10u);
    EXPECT_EQ(state.rumbleEnabled.load(), 1);
    EXPECT_EQ(state.usbDeviceCount.load(), 0u);
    EXPECT_EQ(state.profileCount, 0u);
    EXPECT_EQ(state.versionPlace.open, 0);
    EXPECT_EQ(state.usbDevices[0].handle, nullptr);
}

TEST(ToolState, AdministratorTestTokenTypesAndTheMenuTheyGive) {
    using E = ElevationType;
    struct Case {
        int admin, known;
        uint32_t major, minor;
        ElevationType elevation;
        int wantAdmin, wantConsent;
    } cases[] = {
        {1, 1, 10, 0, E::Unknown, 1, 0},
        {0, 1, 10, 0, E::Unknown, 0, 0},
        {0, 1, 5, 0, E::Unknown, 1, 0},
        {0, 1, 5, 1, E::Unknown, 0, 0},
        {0, 0, 5, 0, E::Unknown, 0, 0},
        {1, 0, 0, 0, E::Unknown, 1, 0},
        // An elevated administrator, and one with UAC off or the built-in account: in-process.
        {1, 0, 10, 0, E::Full, 1, 0},
        {1, 0, 10, 0, E::Default, 1, 0},
        // A standard user: nothing to elevate to.
        {0, 1, 10, 0, E::Default, 0, 0},
        // An administrator started from the log-on or the Start menu: a reset with consent.
        {0, 1, 10, 0, E::Limited, 1, 1},
    };
    static ToolState state;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.elevation) * 10 + c.admin);
        ApplyAdministratorTest(&state, c.admin, c.known, c.major, c.minor, c.elevation);
        EXPECT_EQ(state.isAdmin, c.wantAdmin);
        EXPECT_EQ(state.canResetDriver, c.wantAdmin) << "the two flags always agree";
        EXPECT_EQ(state.resetNeedsConsent, c.wantConsent);
        state.usbConnected = 1;
        state.bthConnected = 1;
        const TrayMenuModel m = ComputeTrayMenuModel(&state);
        EXPECT_EQ(m.usb.resetEnabled, c.wantAdmin);
        EXPECT_EQ(m.bth.resetEnabled, c.wantAdmin);
        EXPECT_EQ(m.registryEnabled, c.wantAdmin) << "the migration runs in-process for every administrator";
        EXPECT_EQ(m.resetShield, c.wantConsent);
    }
}

TEST(CommandLine, DebugSwitchRule) {
    struct Case {
        const char16_t* line;
        int want;
    } cases[] = {
        {u"padwarden.exe -debug", 1},
        {u"padwarden.exe -debugger", 1},
        {u"padwarden.exe /x -debug", 1},
        {u"padwarden.exe -Debug", 0},
        {u"padwarden.exe -deb", 0},
        {u"padwarden.exe -x -debug", 0}, // only the first hyphen counts
        {u"padwarden.exe", 0},
        {u"", 0},
        {u"\"C:\\Program Files\\pad-warden\\padwarden.exe\" -debug", 1},
        {u"C:\\tools\\pad-warden\\padwarden.exe -debug", 1},
        {u"C:\\tools\\pad-debug\\padwarden.exe", 0}, // a hyphen in the path is never the switch
        {u"\"C:\\a-debug\\p.exe\"", 0},
        {u"\"C:\\unterminated -debug", 0},
        {u"   padwarden.exe\t-debug", 1},
    };
    for (const Case& c : cases) {
        std::u16string line(c.line);
        EXPECT_EQ(IsDebugCommandLineText(c.line), c.want) << std::string(line.begin(), line.end());
    }
    EXPECT_EQ(IsDebugCommandLineText(nullptr), 0);
}

TEST(CommandLine, SetupSwitches) {
    struct Case {
        const char16_t* line;
        SetupSwitch want;
    } cases[] = {
        {u"padwarden.exe -exit", SetupSwitch::Exit},
        {u"\"C:\\Users\\a b\\Padwarden\\padwarden.exe\" -exit", SetupSwitch::Exit},
        {u"padwarden.exe  -exit  ", SetupSwitch::Exit},
        {u"padwarden.exe -exit-for-setup", SetupSwitch::ExitForSetup},
        {u"padwarden.exe -start-after-setup", SetupSwitch::StartAfterSetup},
        {u"padwarden.exe -exit-for-removal", SetupSwitch::ExitForRemoval},
        {u"padwarden.exe -exits", SetupSwitch::None},
        {u"padwarden.exe -Exit", SetupSwitch::None},
        {u"padwarden.exe -exit-for", SetupSwitch::None},
        {u"padwarden.exe -debug -exit", SetupSwitch::None}, // only the first argument counts
        {u"padwarden.exe -debug", SetupSwitch::None},
        {u"C:\\pad-exit\\padwarden.exe", SetupSwitch::None}, // never found in the path
        {u"\"C:\\x -exit", SetupSwitch::None},               // unterminated quote swallows it
        {u"padwarden.exe", SetupSwitch::None},
        {u"", SetupSwitch::None},
    };
    for (const Case& c : cases) {
        std::u16string line(c.line);
        EXPECT_EQ(SetupSwitchOf(c.line), c.want) << std::string(line.begin(), line.end());
        // The setup switches never turn debug mode on.
        EXPECT_EQ(IsDebugCommandLineText(c.line), line.find(u"-debug") != std::u16string::npos ? 1 : 0);
    }
    EXPECT_EQ(SetupSwitchOf(nullptr), SetupSwitch::None);
}

TEST(CommandLine, DriverResetSwitchTakesOneCleanId) {
    struct Case {
        const char16_t* line;
        const char16_t* want; // null: refused
    } cases[] = {
        {u"p.exe -driver-reset \"USB\\VID_054C&PID_0268\\5&1A2B\"", u"USB\\VID_054C&PID_0268\\5&1A2B"},
        {u"\"C:\\Users\\a b\\p.exe\" -driver-reset  \"ROOT\\X\\0000\"  ", u"ROOT\\X\\0000"},
        {u"p.exe -driver-reset BTHENUM\\{0000}_LOCALMFG&0000\\7&1", u"BTHENUM\\{0000}_LOCALMFG&0000\\7&1"},
        {u"p.exe -driver-reset", nullptr},
        {u"p.exe -driver-reset \"\"", nullptr},
        {u"p.exe -driver-reset \"ROOT\\X", nullptr},          // unterminated
        {u"p.exe -driver-reset \"ROOT\\X\" -debug", nullptr}, // nothing may follow
        {u"p.exe -driver-reset ROOT\\X \"ROOT\\Y\"", nullptr},
        {u"p.exe -driver-reset \"A\"B\"", nullptr},
        {u"p.exe -driver-reset \"A\tB\"", nullptr}, // a control character
        {u"p.exe -driver-resets \"ROOT\\X\"", nullptr},
        {u"p.exe -debug -driver-reset \"ROOT\\X\"", nullptr}, // the first argument only
    };
    for (const Case& c : cases) {
        std::u16string line(c.line);
        SCOPED_TRACE(std::string(line.begin(), line.end()));
        Utf16 id[kInstanceIdChars];
        const int got = DriverResetSwitchOf(c.line, id, kInstanceIdChars);
        EXPECT_EQ(got, c.want != nullptr ? 1 : 0);
        if (got && c.want != nullptr) {
            EXPECT_EQ(std::u16string(id), std::u16string(c.want));
        }
        EXPECT_EQ(SetupSwitchOf(c.line), SetupSwitch::None);
    }
    // An id one unit too long for the buffer is refused, never cut.
    std::u16string line = u"p.exe -driver-reset \"" + std::u16string(kInstanceIdChars - 1, u'A') + u"\"";
    Utf16 id[kInstanceIdChars];
    EXPECT_EQ(DriverResetSwitchOf(line.c_str(), id, kInstanceIdChars - 1), 0);
    EXPECT_EQ(DriverResetSwitchOf(line.c_str(), id, kInstanceIdChars), 1);
}

TEST(Dispatch, CommandGating) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    struct Case {
        uint64_t wParam;
        int admin, debug, withBlock;
        uint32_t profiles;
        CommandAction want;
        uint32_t index;
    } cases[] = {
        {IDM_CONFIG, 0, 0, 0, 0, CommandAction::OpenToolSetting, 0},
        {IDM_CONFIG | (1u << 16), 0, 0, 0, 0, CommandAction::OpenToolSetting, 0}, // high half ignored
        {IDM_VERSION, 0, 0, 0, 0, CommandAction::OpenVersion, 0},
        {IDM_EXIT, 0, 0, 0, 0, CommandAction::Exit, 0},
        {IDM_USB_DRIVER_RESET, 0, 0, 0, 0, CommandAction::None, 0},
        {IDM_USB_DRIVER_RESET, 1, 0, 0, 0, CommandAction::UsbDriverReset, 0},
        {IDM_BTH_DRIVER_RESET, 1, 0, 0, 0, CommandAction::BthDriverReset, 0},
        {IDM_MOVE_FF_SETTING, 0, 0, 0, 0, CommandAction::None, 0},
        {IDM_MOVE_FF_SETTING, 1, 0, 0, 0, CommandAction::MigrateRumbleSettings, 0},
        {IDM_RUMBLE_VIEWER, 0, 1, 0, 0, CommandAction::None, 0},
        {IDM_RUMBLE_VIEWER, 0, 0, 1, 0, CommandAction::None, 0},
        {IDM_RUMBLE_VIEWER, 0, 1, 1, 0, CommandAction::OpenRumbleViewer, 0},
        {IDM_BTH_PROFILE, 1, 1, 1, 3, CommandAction::None, 0},
        {IDM_PROFILE_PLACEHOLDER, 1, 1, 1, 3, CommandAction::None, 0},
        {0x8000, 0, 0, 0, 3, CommandAction::ApplyUsbProfile, 0},
        {0x8002, 0, 0, 0, 3, CommandAction::ApplyUsbProfile, 2},
        {0x8003, 0, 0, 0, 3, CommandAction::None, 0}, // index == count
        {0x8101, 0, 0, 0, 3, CommandAction::ApplyBthProfile, 1},
        {0x8100, 0, 0, 0, 0, CommandAction::None, 0},
        {0x80FF, 0, 0, 0, 300, CommandAction::ApplyUsbProfile, 255},
        {0x8100, 0, 0, 0, 300, CommandAction::ApplyBthProfile, 0}, // never USB profile 256
        {0x8200, 0, 0, 0, 600, CommandAction::None, 0},
        {0x8001, 0, 0, 0, 2, CommandAction::None, 0}, // a refused file's slot sends nothing
        {0x8101, 0, 0, 0, 2, CommandAction::None, 0},
        {0x8100, 0, 0, 0, 2, CommandAction::ApplyBthProfile, 0},
    };
    static uint8_t block[16];
    alignas(8) static unsigned char records[1];
    static uint8_t accepted[600];
    for (uint8_t& a : accepted)
        a = 1;
    for (const Case& c : cases) {
        state.isAdmin = c.admin;
        state.canResetDriver = c.admin;
        state.debugMode = static_cast<uint32_t>(c.debug);
        state.rumbleBlock = c.withBlock ? block : nullptr;
        state.profileCount = c.profiles;
        state.profiles = c.profiles ? reinterpret_cast<ProfileRecord*>(records) : nullptr;
        state.profileAccepted = accepted;
        // In the library of two files, the second was refused.
        accepted[1] = c.profiles == 2 ? 0 : 1;
        const CommandDecision d = DecideCommand(&state, c.wParam);
        EXPECT_EQ(static_cast<int>(d.action), static_cast<int>(c.want)) << std::hex << c.wParam;
        if (c.want == CommandAction::ApplyUsbProfile || c.want == CommandAction::ApplyBthProfile) {
            EXPECT_EQ(d.profileIndex, c.index) << std::hex << c.wParam;
        }
    }
}

// The menu shows and the dispatch runs from one answer: in every state of the flags that gate a
// command, a command runs exactly when its item is not greyed, and the menu's popups follow the
// same answer. A command added to one side only fails here.
TEST(Dispatch, RunsExactlyWhatTheMenuOffers) {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    static uint8_t block[16];
    alignas(8) static unsigned char records[1];
    static uint8_t accepted[2] = {1, 0};
    const uint32_t ids[] = {IDM_USB_AUTO_FIRE,
                            IDM_USB_DRIVER_RESET,
                            IDM_USB_INFORMATION,
                            IDM_BTH_AUTO_FIRE,
                            IDM_BTH_PROFILE,
                            IDM_BTH_DISCONNECT,
                            IDM_BTH_RECONNECT,
                            IDM_BTH_DRIVER_RESET,
                            IDM_BTH_INFORMATION,
                            IDM_RUMBLE_SETTING,
                            IDM_RUMBLE_PERMISSION,
                            IDM_RUMBLE_INFORMATION,
                            IDM_EXIT,
                            IDM_VERSION,
                            IDM_CONFIG,
                            IDM_PROFILE_PLACEHOLDER,
                            IDM_MOVE_FF_SETTING,
                            IDM_RUMBLE_VIEWER,
                            0x8000,
                            0x8001,
                            0x8002,
                            0x8100,
                            0x8101,
                            0};
    for (uint32_t bits = 0; bits < 256; ++bits) {
        state.usbConnected = (bits & 1) != 0;
        state.bthConnected = (bits & 2) != 0;
        state.rumbleActive = (bits & 4) != 0;
        state.rumbleEnabled = (bits & 8) != 0;
        state.isAdmin = state.canResetDriver = (bits & 16) != 0;
        state.debugMode = (bits & 32) != 0;
        state.rumbleBlock = (bits & 64) != 0 ? block : nullptr;
        const int loaded = (bits & 128) != 0;
        state.profilesAvailable = loaded;
        state.profileCount = loaded ? 2 : 0;
        state.profiles = loaded ? reinterpret_cast<ProfileRecord*>(records) : nullptr;
        state.profileAccepted = accepted;
        for (uint32_t id : ids) {
            const CommandAvailability a = CommandAvailabilityOf(&state, id);
            const CommandDecision d = DecideCommand(&state, id);
            EXPECT_EQ(d.action != CommandAction::None, a.enabled != 0) << id << " in state " << bits;
        }
        const TrayMenuModel m = ComputeTrayMenuModel(&state);
        EXPECT_EQ(m.usb.enabled, state.usbConnected.load()) << bits;
        EXPECT_EQ(m.bth.enabled, state.bthConnected.load()) << bits;
        EXPECT_EQ(m.rumbleEnabled, state.rumbleActive.load()) << bits;
        EXPECT_EQ(m.rumbleChecked, state.rumbleEnabled.load()) << bits;
        EXPECT_EQ(m.usb.resetEnabled,
                  DecideCommand(&state, IDM_USB_DRIVER_RESET).action != CommandAction::None);
        EXPECT_EQ(m.registryEnabled,
                  DecideCommand(&state, IDM_MOVE_FF_SETTING).action != CommandAction::None);
    }
}

} // namespace
