// The one global record of program state. The members up to the dialog places are the tool's
// original state, in its original order: identity, the log and rumble handles, the device slots,
// the profiles, the thread handshake, the computed flags, the settings, the icon state, the dialog
// places. Those after them the Win32 shell added. Flags that one thread writes and the other polls
// are atomics so that every read sees a whole, current value.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "core/event.h"
#include "core/text.h"
#include "core/device_slot.h"
#include "core/device_command.h"

struct ProfileRecord;
struct ApplicationProfiles;

using WindowHandle = void*;
using ModuleHandle = void*;
using IconHandle = void*;
using KernelHandle = void*;

using SharedI32 = std::atomic<int32_t>;
using SharedU32 = std::atomic<uint32_t>;

// Positions are the dialog's left and top edge, kept and stored as 16 bits; signed, since a
// monitor left of or above the main one has negative coordinates.
struct DialogPlace {
    int32_t open = 0;
    int16_t posX = 0;
    int16_t posY = 0;
};

struct InformationPlace {
    int32_t open = 0;
    uint32_t selectedDevice = 0;
    int16_t posX = 0;
    int16_t posY = 0;
};

// Storage for the platform's notification-icon record (NOTIFYICONDATAW, 976 bytes on 64-bit
// Windows); only the Win32 layer looks inside.
struct NotifyIconStorage {
    alignas(8) unsigned char bytes[1024];
};

constexpr int kTrayIconCount = 7;
constexpr int kRumbleSlotCount = 32;
constexpr int kBatteryLogBytes = 15;
// The notification area keeps a tooltip of 128 units with the terminator.
constexpr size_t kTrayTipUnits = 128;
// The file name of the program whose rule chose a profile, as the tooltip and -status name it.
constexpr size_t kAppliedRuleChars = 64;
constexpr size_t kFrontProgramChars = 260;

// What the state tooltip tells beyond the connection flags; written by the Monitor thread. The
// waiting flags are also read by the window thread's -status answer.
struct TrayTipWatch {
    SharedI32 usbWaiting{0};
    SharedI32 bthWaiting{0};
    uint8_t battery = 0;
    // Bluetooth went after a pass read its battery, at this minute of the local day.
    int32_t bthSeen = 0;
    int32_t bthGone = 0;
    uint32_t lastSeenMinute = 0;
    // The text last sent; empty until the first, which the caption stands for.
    Utf16 sent[kTrayTipUnits] = {};
};

struct ToolState {
    Utf16 className[256] = {};
    Utf16 caption[256] = {};
    ModuleHandle instance = nullptr;
    WindowHandle mainWindow = nullptr;
    int32_t isAdmin = 0;
    uint32_t debugMode = 0;
    SharedI32 batteryLogEnabled{0};
    KernelHandle batteryLogFile = nullptr;
    uint8_t batteryLogLast[kBatteryLogBytes] = {};
    KernelHandle rumbleMutex = nullptr;
    KernelHandle rumbleMapping = nullptr;
    uint32_t rumbleSlotAge[kRumbleSlotCount] = {};
    // Claimed and cleared in one atomic step each: the main thread and the Monitor thread both lock.
    std::atomic<KernelHandle> rumbleLock{nullptr};
    uint8_t* rumbleBlock = nullptr;
    uint32_t rumbleSlotMask = 0;
    SharedU32 usbDeviceCount{0};
    uint32_t usbSelectedDevice = 0;
    // Arrays of one: the driver serves one controller per transport, and the selected index,
    // always 0, keeps the commands written for a list of them.
    DeviceSlot usbDevices[1];
    SharedU32 bthDeviceCount{0};
    uint32_t bthSelectedDevice = 0;
    DeviceSlot bthDevices[1];
    uint32_t profileCount = 0;
    ProfileRecord* profiles = nullptr;
    SharedI32 running{0};
    SharedI32 monitorExited{0};
    uint32_t threadInterval = 0;
    SharedI32 pauseRequested{0};
    SharedI32 monitorPaused{0};
    ManualResetEvent resumeEvent;
    int32_t canResetDriver = 0;
    SharedI32 usbConnected{0};
    SharedI32 bthConnected{0};
    SharedI32 rumbleActive{0};
    int32_t profilesAvailable = 0;
    SharedI32 rumbleEnabled{0};
    int32_t enableTrayIcon = 0;
    SharedI32 enableAnimationIcon{0};
    SharedI32 enableNotifyPSButton{0};
    SharedI32 enableNotifyLowBattery{0};
    SharedU32 iconAnimationSpeed{0};
    uint32_t statusBits = 0;
    // Written by the Monitor thread, read by the window thread when it loads new pictures.
    SharedU32 iconValue{0};
    int32_t iconMode = 0;
    uint32_t animationTicks = 0;
    IconHandle trayIcons[kTrayIconCount] = {};
    NotifyIconStorage notifyIcon = {};
    DialogPlace toolSettingPlace;
    DialogPlace versionPlace;
    DialogPlace rumblePlace;
    InformationPlace usbInformationPlace;
    InformationPlace bthInformationPlace;
    DialogPlace ffDriverPlace;
    DialogPlace usbAutoFirePlace;
    DialogPlace bthAutoFirePlace;

    // Beyond the original members: what the Win32 shell needs to keep the handshakes bounded,
    // the tray icon safe to re-add from the main thread, and modeless dialogs reachable from the
    // message loop.
    KernelHandle monitorThread = nullptr;
    std::mutex trayLock;
    uint32_t taskbarCreatedMessage = 0;
    // The installer's request to exit (kExitMessageName).
    uint32_t exitMessage = 0;
    uint32_t trayAddRetries = 0;
    int32_t trayIconShown = 0;
    // Under trayLock: the last add failed, so the next try modifies first; the tray calls under
    // way and the pictures they may still name; the set of pictures loaded, counted.
    int32_t trayAddFailed = 0;
    uint32_t trayCallsUnderWay = 0;
    IconHandle trayRetiredIcons[kTrayIconCount] = {};
    uint32_t trayPictureSet = 0;
    // Size in pixels of the tray pictures loaded, 0 before the first load.
    int32_t trayPictureSize = 0;
    // 1 under Wine, whose stand-alone tray draws a new picture over the last one (see tray_win),
    // and whether the pictures loaded are the opaque ones made for that tray.
    int32_t underWine = 0;
    int32_t trayPicturesOpaque = 0;
    WindowHandle modelessDialogs[8] = {};
    // Held around every use of batteryLogFile, so a close never meets a write in progress.
    std::mutex batteryLogLock;
    // One byte per Profile record: 1 when its file was accepted. A refused file keeps its slot
    // (so the other ids stay put) but must never send its zero setting block.
    uint8_t* profileAccepted = nullptr;
    // The session is ending: the settings are saved and the window goes.
    int32_t sessionEnded = 0;
    // Index of the picture last handed to the notification area, -1 when unknown: a frame that
    // would show the same picture again is not sent.
    SharedI32 trayPictureShown{-1};
    // Ends the Monitor thread's wait between passes early; see WakeMonitor.
    ManualResetEvent wakeEvent;
    // The tray menu is being tracked, and the last callback event was the right button's release
    // (see TrayMenuRequestFor); window thread only.
    int32_t trayMenuOpen = 0;
    int32_t trayAfterRightUp = 0;
    // Passes the Monitor thread has made, readable from any thread.
    SharedU32 monitorPasses{0};
    // Device work the window thread leaves to the Monitor thread (kDeviceWork* bits), so that no
    // window message waits for a device; see RequestDeviceWork.
    SharedU32 deviceWork{0};
    // One device worker per transport (0 USB, 1 Bluetooth): a device that never answers holds up
    // its own commands only.
    DeviceCommandQueue deviceQueues[2];
    // The last discovery passed over a joystick that refused its first read: once the driver
    // answers it again, no device notice says so, so the Monitor thread looks again now and then.
    SharedI32 discoveryPassedOver{0};
    // An administrator whose process runs without elevation: a driver reset asks for consent and
    // runs in an elevated copy.
    int32_t resetNeedsConsent = 0;
    // Beyond the twenty settings: the tooltip tells the controllers' state (ShowStateInTooltip).
    SharedI32 showStateInTooltip{0};
    // The profile last applied on each transport, by the menu or the command line: its index + 1,
    // 0 for none. Written by the window thread, read by the Monitor thread's tooltip.
    SharedU32 appliedProfile[2]{};
    TrayTipWatch trayTipWatch;
    // Application profiles (app/app_switch_win.cpp): the rules and the switching, null until
    // start-up loads them.
    ApplicationProfiles* applicationProfiles = nullptr;
    // Who chose the profile in appliedProfile: 0 by hand (or none), 1 the rule of the program
    // named in appliedRule, 2 the rule for when no listed program is in front. Under appliedLock.
    mutable std::mutex appliedLock;
    int32_t appliedChooser[2] = {};
    Utf16 appliedRule[2][kAppliedRuleChars] = {};
    // The last program of another process in front, for the dialog's "Add the program in
    // front"; window thread only.
    Utf16 lastFrontProgram[kFrontProgramChars] = {};
    DialogPlace applicationProfilesPlace;
};

// Resets every member to zero and sets the defaults (poll
// interval 100 ms, running, tray icon, animation and PS-button notice on, speed 10, rumble
// permitted); must run before any other
// thread touches the state. The administrator test is the platform's and is applied after.
void InitializeToolStateDefaults(ToolState* state);

// The token's elevation type (TOKEN_ELEVATION_TYPE): default (no split token: UAC off, a standard
// user, or the built-in Administrator), full (elevated), limited (an administrator not elevated).
enum class ElevationType { Unknown = 0, Default = 1, Full = 2, Limited = 3 };

// Applies the administrator result, the token's elevation type and the system version to isAdmin,
// canResetDriver and resetNeedsConsent. A limited token belongs to an administrator whose
// IsUserAnAdmin answers 0 until elevated: it counts as one, and its reset asks for consent.
void ApplyAdministratorTest(ToolState* state, int adminResult, int versionKnown, uint32_t major,
                            uint32_t minor, ElevationType elevation = ElevationType::Unknown);
