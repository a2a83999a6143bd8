// The Rumble parameter block with Wine's real named mapping and mutex.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>

#include "core/bytes.h"
#include "tests/windows/string_table.h"
#include "resources/resource.h"
#include "rumble/rumble_block.h"
#include "rumble/rumble_win.h"

namespace {

const wchar_t kMappingName[] = L"DUALSHOCK3 RUMBLE PARAMETERS";
const wchar_t kMutexName[] = L"DUALSHOCK3 Rumble Parameters Mutex Object";

ToolState& Fresh() {
    static ToolState state;
    InitializeToolStateDefaults(&state);
    return state;
}

DWORD HandleCount() {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

TEST(RumbleBlockWin, FreshBlockThroughTheNamedMapping) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    // What a driver-side process sees when it opens the mapping by name.
    HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kMappingName);
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<uint8_t*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    MEMORY_BASIC_INFORMATION region = {};
    ASSERT_NE(VirtualQuery(view, &region, sizeof region), 0u);
    EXPECT_GE(region.RegionSize, kRumbleBlockSize);
    EXPECT_EQ(std::memcmp(view, "PDWN", 4), 0);
    EXPECT_EQ(view[4], 0);
    EXPECT_EQ(view[5], 3);
    EXPECT_EQ(ReadU16LE(view + 6), 15);
    EXPECT_EQ(ReadU32LE(view + 8), 0u);
    EXPECT_EQ(ReadU32LE(view + 12), 1u);
    int zero = 1;
    for (uint32_t i = kRumbleHeaderSize; i < kRumbleBlockSize; ++i)
        zero &= view[i] == 0;
    EXPECT_TRUE(zero);
    // A write through the other view is the tool's block: it is one shared section.
    view[kRumbleHeaderSize] = 'D';
    EXPECT_EQ(state.rumbleBlock[kRumbleHeaderSize], 'D');
    // The mutex is free for other processes once start-up is done.
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseRumbleBlock(&state);
    EXPECT_EQ(state.rumbleBlock, nullptr);
    // With the start-up handle closed the names are gone.
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, kMutexName), nullptr);
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, kMappingName), nullptr);
}

TEST(RumbleBlockWin, SecondOpenWhileTheMutexExistsFailsAndLeavesNoHandle) {
    ToolState& first = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&first), 1);
    WriteU32LE(first.rumbleBlock + kRumbleSlotMask, 5);
    static ToolState second;
    InitializeToolStateDefaults(&second);
    const DWORD before = HandleCount();
    EXPECT_EQ(OpenRumbleBlock(&second), 0);
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(second.rumbleBlock, nullptr);
    EXPECT_EQ(second.rumbleMapping, nullptr);
    EXPECT_EQ(second.rumbleMutex, nullptr);
    // The first owner's block was not zeroed.
    EXPECT_EQ(ReadU32LE(first.rumbleBlock + kRumbleSlotMask), 5u);
    CloseRumbleBlock(&first);
}

// The handle the ending thread leaves open; closed by the test so the name goes with the block.
HANDLE abandonedHandle = nullptr;

DWORD WINAPI HoldAndEnd(LPVOID) {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    if (mutex != nullptr)
        WaitForSingleObject(mutex, INFINITE);
    abandonedHandle = mutex;
    // Ends without releasing: the mutex is abandoned.
    return mutex != nullptr;
}

TEST(RumbleBlockWin, AbandonedMutexCostsExactlyOneFailedAttempt) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    HANDLE thread = CreateThread(nullptr, 0, HoldAndEnd, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD held = 0;
    GetExitCodeThread(thread, &held);
    CloseHandle(thread);
    ASSERT_EQ(held, 1u);
    const DWORD before = HandleCount();
    EXPECT_EQ(LockRumbleBlock(&state), 0);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(SweepRumbleSlots(&state), 1);
    EXPECT_EQ(HandleCount(), before);
    EXPECT_EQ(ToggleRumblePermission(&state), 1);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 0u);
    CloseHandle(abandonedHandle);
    CloseRumbleBlock(&state);
}

// Another program made the mapping first at its own size: the view is smaller than the block and
// start-up must refuse it rather than write the header past its end.
TEST(RumbleBlockWin, MappingMadeFirstTooSmallFailsStartUp) {
    struct Case {
        DWORD protect;
        DWORD size;
    };
    const Case cases[] = {{PAGE_READWRITE, 4096}, {PAGE_READWRITE, 16}, {PAGE_READWRITE | SEC_RESERVE, 8192}};
    for (const Case& c : cases) {
        HANDLE first = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, c.protect, 0, c.size, kMappingName);
        ASSERT_NE(first, nullptr);
        ToolState& state = Fresh();
        const DWORD before = HandleCount();
        EXPECT_EQ(OpenRumbleBlock(&state), 0) << c.size;
        EXPECT_EQ(HandleCount(), before) << c.size;
        EXPECT_EQ(state.rumbleBlock, nullptr);
        EXPECT_EQ(state.rumbleMapping, nullptr);
        EXPECT_EQ(state.rumbleMutex, nullptr);
        EXPECT_EQ(SweepRumbleSlots(&state), 0);
        // The mutex was never created, so the next start is not refused as a second owner.
        EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, kMutexName), nullptr);
        CloseHandle(first);
    }
    // With the small mapping gone, the block is made at its full size.
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    CloseRumbleBlock(&state);
}

// The rights of an access mask written in SDDL, as hex or as two-letter aliases.
DWORD SddlRights(const std::wstring& text) {
    if (text.rfind(L"0x", 0) == 0 || text.rfind(L"0X", 0) == 0)
        return static_cast<DWORD>(std::wcstoul(text.c_str(), nullptr, 16));
    static const std::map<std::wstring, DWORD> aliases = {{L"GA", GENERIC_ALL},   {L"GR", GENERIC_READ},
                                                          {L"GW", GENERIC_WRITE}, {L"GX", GENERIC_EXECUTE},
                                                          {L"RC", READ_CONTROL},  {L"SD", DELETE},
                                                          {L"WD", WRITE_DAC},     {L"WO", WRITE_OWNER},
                                                          {L"RP", 0x10},          {L"WP", 0x20},
                                                          {L"CC", 0x1},           {L"DC", 0x2},
                                                          {L"LC", 0x4},           {L"SW", 0x8},
                                                          {L"LO", 0x80},          {L"DT", 0x40},
                                                          {L"CR", 0x100},         {L"FA", FILE_ALL_ACCESS},
                                                          {L"KA", KEY_ALL_ACCESS}};
    DWORD mask = 0;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        auto found = aliases.find(text.substr(i, 2));
        if (found == aliases.end())
            return 0xFFFFFFFFu;
        mask |= found->second;
    }
    return mask;
}

// The allow entries of an object's live access list, read back and written as SDDL: the SID
// string (in the form that ConvertSidToStringSid gives, whatever alias SDDL used) to its rights.
std::map<std::wstring, DWORD> LiveAllowEntries(HANDLE object, std::wstring* sddl) {
    std::map<std::wstring, DWORD> entries;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return entries;
    wchar_t* text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &text, nullptr)) {
        *sddl = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    // Each entry: (type;flags;rights;object;inherited object;SID)
    for (size_t open = sddl->find(L'('); open != std::wstring::npos; open = sddl->find(L'(', open + 1)) {
        const size_t close = sddl->find(L')', open);
        if (close == std::wstring::npos)
            break;
        std::wstring fields[6];
        size_t field = 0;
        for (size_t i = open + 1; i < close && field < 6; ++i) {
            if ((*sddl)[i] == L';')
                ++field;
            else
                fields[field].push_back((*sddl)[i]);
        }
        PSID sid = nullptr;
        if (fields[0] != L"A" || !ConvertStringSidToSidW(fields[5].c_str(), &sid)) {
            entries[L"unexpected " + fields[0] + L" " + fields[5]] = 0;
            continue;
        }
        wchar_t* sidText = nullptr;
        ConvertSidToStringSidW(sid, &sidText);
        entries[sidText] |= SddlRights(fields[2]);
        LocalFree(sidText);
        LocalFree(sid);
    }
    return entries;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// Wine enforces none of this, so the entries are read back from the live objects: SYSTEM,
// Administrators and the interactive user's programs, and nobody else.
TEST(RumbleBlockWin, LiveAccessListsNameTheInteractiveUsersClients) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    const DWORD mapAll = SECTION_ALL_ACCESS, mutexAll = MUTEX_ALL_ACCESS;
    struct Case {
        HANDLE object;
        std::map<std::wstring, DWORD> expected;
    };
    const Case cases[] = {
        {static_cast<HANDLE>(state.rumbleMapping),
         {{L"S-1-5-18", mapAll}, {L"S-1-5-32-544", mapAll}, {L"S-1-5-4", mapAll}}},
        {static_cast<HANDLE>(state.rumbleMutex),
         {{L"S-1-5-18", mutexAll}, {L"S-1-5-32-544", mutexAll}, {L"S-1-5-4", mutexAll}}},
    };
    for (const Case& c : cases) {
        std::wstring sddl;
        EXPECT_EQ(LiveAllowEntries(c.object, &sddl), c.expected) << Narrow(sddl);
    }
    CloseRumbleBlock(&state);
}

// The descriptor as built, before any object carries it: Wine keeps no mandatory label on
// objects, so the label is checked here. One entry, low integrity, no write up.
TEST(RumbleBlockWin, BuiltDescriptorsCarryALowLabel) {
    for (RumbleObject object : {RumbleObject::Mapping, RumbleObject::Mutex}) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(BuildRumbleSecurity(object, &descriptor), 1);
        BOOL present = FALSE, defaulted = FALSE;
        PACL sacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorSacl(descriptor, &present, &sacl, &defaulted));
        ASSERT_TRUE(present);
        ASSERT_NE(sacl, nullptr);
        ASSERT_EQ(sacl->AceCount, 1);
        ACE_HEADER* header = nullptr;
        ASSERT_TRUE(GetAce(sacl, 0, reinterpret_cast<void**>(&header)));
        ASSERT_EQ(header->AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
        auto* label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(header);
        EXPECT_EQ(label->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
        wchar_t* sid = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidW(&label->SidStart, &sid));
        EXPECT_EQ(std::wstring(sid), L"S-1-16-4096");
        LocalFree(sid);
        LocalFree(descriptor);
    }
}

// What a game run by the same user without elevation gets from an elevated tool's objects: the
// token of this process with Administrators for deny only, as Windows filters it, against the live
// access list owned by Administrators, as an elevated token's objects are (Wine's owner check
// grants more than Windows', so the game must not be the owner here). Many clients ask for all
// access, and an open that is granted less fails. Wine evaluates access checks; it only skips
// them when objects are opened.
TEST(RumbleBlockWin, NonElevatedClientGetsAllAccess) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    HANDLE own = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own));
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof admins;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize));
    SID_AND_ATTRIBUTES denyOnly = {admins, 0};
    HANDLE filtered = nullptr, client = nullptr;
    ASSERT_TRUE(CreateRestrictedToken(own, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &filtered));
    ASSERT_TRUE(DuplicateToken(filtered, SecurityImpersonation, &client));
    GENERIC_MAPPING sectionMapping = {STANDARD_RIGHTS_READ | SECTION_QUERY | SECTION_MAP_READ,
                                      STANDARD_RIGHTS_WRITE | SECTION_MAP_WRITE,
                                      STANDARD_RIGHTS_EXECUTE | SECTION_MAP_EXECUTE, SECTION_ALL_ACCESS};
    GENERIC_MAPPING mutexMapping = {STANDARD_RIGHTS_READ | MUTEX_MODIFY_STATE, STANDARD_RIGHTS_WRITE,
                                    STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, MUTEX_ALL_ACCESS};
    struct Case {
        HANDLE object;
        GENERIC_MAPPING* mapping;
        DWORD wanted;
    };
    const Case cases[] = {
        {static_cast<HANDLE>(state.rumbleMapping), &sectionMapping, FILE_MAP_READ | FILE_MAP_WRITE},
        {static_cast<HANDLE>(state.rumbleMapping), &sectionMapping, FILE_MAP_ALL_ACCESS},
        {static_cast<HANDLE>(state.rumbleMutex), &mutexMapping, SYNCHRONIZE | MUTEX_MODIFY_STATE},
        {static_cast<HANDLE>(state.rumbleMutex), &mutexMapping, MUTEX_ALL_ACCESS},
    };
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        PSID group = nullptr;
        PACL dacl = nullptr;
        ASSERT_EQ(GetSecurityInfo(c.object, SE_KERNEL_OBJECT,
                                  GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, &group,
                                  &dacl, nullptr, &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        SECURITY_DESCRIPTOR elevated = {};
        ASSERT_TRUE(InitializeSecurityDescriptor(&elevated, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_TRUE(SetSecurityDescriptorOwner(&elevated, admins, FALSE));
        ASSERT_TRUE(SetSecurityDescriptorGroup(&elevated, group, FALSE));
        ASSERT_TRUE(SetSecurityDescriptorDacl(&elevated, TRUE, dacl, FALSE));
        PRIVILEGE_SET privileges = {};
        DWORD privilegesSize = sizeof privileges, granted = 0;
        BOOL status = FALSE;
        ASSERT_TRUE(AccessCheck(&elevated, client, c.wanted, c.mapping, &privileges, &privilegesSize,
                                &granted, &status));
        EXPECT_TRUE(status) << std::hex << c.wanted;
        LocalFree(descriptor);
    }
    CloseHandle(client);
    CloseHandle(filtered);
    CloseHandle(own);
    CloseRumbleBlock(&state);
}

struct Holder {
    HANDLE taken = nullptr;
    HANDLE letGo = nullptr;
};

DWORD WINAPI HoldUntilLetGo(LPVOID parameter) {
    auto* holder = static_cast<Holder*>(parameter);
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, kMutexName);
    if (mutex == nullptr || WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0)
        return 0;
    SetEvent(holder->taken);
    WaitForSingleObject(holder->letGo, 30000);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 1;
}

// A client that keeps the real mutex (another thread stands in for its process): every lock gives
// up within its bound, closes what it opened and leaves the block as it was.
TEST(RumbleBlockWin, LocksGiveUpOnAHeldMutex) {
    ToolState& state = Fresh();
    ASSERT_EQ(OpenRumbleBlock(&state), 1);
    std::memcpy(RumbleSlot(state.rumbleBlock, 0), "DS3R", 4);
    WriteU32LE(state.rumbleBlock + kRumbleSlotMask, 1);
    state.rumbleSlotAge[0] = kRumbleAgeLimit;
    WriteU32LE(RumbleSlot(state.rumbleBlock, 0) + kSlotRequestSequence, 7);
    Holder holder = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                     CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, HoldUntilLetGo, &holder, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(holder.taken, 10000), WAIT_OBJECT_0);
    const DWORD before = HandleCount();
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(SweepRumbleSlots(&state), 0);
    std::printf("sweep gave up after %llu ms\n", GetTickCount64() - start);
    EXPECT_EQ(state.rumbleSlotAge[0], kRumbleAgeLimit) << "a skipped pass does not age the slot";
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleSlotMask), 1u) << "nor reap it";
    start = GetTickCount64();
    EXPECT_EQ(ToggleRumblePermission(&state), 0);
    std::printf("toggle gave up after %llu ms\n", GetTickCount64() - start);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 1u);
    EXPECT_EQ(state.rumbleEnabled.load(), 1);
    EXPECT_EQ(state.rumbleLock.load(), nullptr);
    EXPECT_EQ(HandleCount(), before);
    SetEvent(holder.letGo);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(holder.taken);
    CloseHandle(holder.letGo);
    EXPECT_EQ(ToggleRumblePermission(&state), 1);
    EXPECT_EQ(ReadU32LE(state.rumbleBlock + kRumbleEnableField), 0u);
    CloseRumbleBlock(&state);
}

// Every text the tool may show exists in both string tables.
TEST(RumbleBlockWin, NewTextsExistInBothLanguages) {
    const LANGID languages[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)};
    for (LANGID language : languages) {
        for (UINT id = IDS_DONE; id <= IDS_MIGRATION_NOT_WRITTEN; ++id) {
            EXPECT_FALSE(TableString(id, language).empty()) << id << " " << language;
        }
    }
}

} // namespace
