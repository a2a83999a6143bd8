#include "profiles/profile_library.h"

#include <cstdlib>

#include "core/tool_state.h"
#include "profiles/profile_file.h"
#include "profiles/profile_record.h"
#include "resources/resource.h"

namespace {

bool IsSeparator(Utf16 c) {
    return c == u'\\' || c == u'/';
}

size_t Length(const Utf16* s) {
    size_t n = 0;
    if (s != nullptr)
        while (s[n] != 0)
            ++n;
    return n;
}

// Appends n units of src if they fit with a terminator still to come.
bool Put(Utf16* out, size_t capacity, size_t* used, const Utf16* src, size_t n) {
    if (n >= capacity - *used)
        return false;
    for (size_t i = 0; i < n; ++i)
        out[(*used)++] = src[i];
    return true;
}

} // namespace

uint32_t ProfileMenuCount(uint32_t profileCount) {
    return profileCount < kProfileIdsPerTransport ? profileCount : kProfileIdsPerTransport;
}

uint32_t ProfileCommandId(int transport, uint32_t index) {
    if (index >= kProfileIdsPerTransport)
        return 0;
    return (transport == 0 ? IDM_USB_PROFILE_FIRST : IDM_BTH_PROFILE_FIRST) + index;
}

int SplitProfileFolder(const Utf16* path, Utf16* drive, size_t driveCapacity, Utf16* directory,
                       size_t directoryCapacity) {
    if (path == nullptr || drive == nullptr || directory == nullptr || driveCapacity == 0 ||
        directoryCapacity == 0)
        return 0;
    drive[0] = 0;
    directory[0] = 0;
    size_t start = 0;
    if (path[0] != 0 && path[1] == u':') {
        if (driveCapacity < 3)
            return 0;
        drive[0] = path[0];
        drive[1] = u':';
        drive[2] = 0;
        start = 2;
    }
    size_t end = start;
    for (size_t i = start; path[i] != 0; ++i)
        if (IsSeparator(path[i]))
            end = i + 1;
    if (end - start >= directoryCapacity) {
        drive[0] = 0;
        return 0;
    }
    for (size_t i = start; i < end; ++i)
        directory[i - start] = path[i];
    directory[end - start] = 0;
    return 1;
}

int JoinProfilePath(Utf16* out, size_t capacity, const Utf16* drive, const Utf16* directory,
                    const Utf16* name, const Utf16* extension) {
    if (out == nullptr || capacity == 0)
        return 0;
    size_t used = 0;
    bool fits = true;
    if (drive != nullptr && drive[0] != 0) {
        const Utf16 letter[2] = {drive[0], u':'};
        fits = Put(out, capacity, &used, letter, 2);
    }
    const size_t dirLength = Length(directory);
    if (fits && dirLength > 0) {
        fits = Put(out, capacity, &used, directory, dirLength);
        if (fits && !IsSeparator(directory[dirLength - 1]))
            fits = Put(out, capacity, &used, u"\\", 1);
    }
    if (fits)
        fits = Put(out, capacity, &used, name, Length(name));
    const size_t extLength = Length(extension);
    if (fits && extLength > 0) {
        if (extension[0] != u'.')
            fits = Put(out, capacity, &used, u".", 1);
        if (fits)
            fits = Put(out, capacity, &used, extension, extLength);
    }
    out[fits ? used : 0] = 0;
    return fits ? 1 : 0;
}

int LoadProfileLibrary(ToolState* state) {
    if (state == nullptr)
        return 0;
    FreeProfileLibrary(state);

    Utf16 value[kProfilePathChars] = {};
    if (!ReadSettingFilePath(value, kProfilePathChars))
        return 0;
    // Only the value's drive and directory count: it may name a file in the folder.
    Utf16 drive[kProfileDriveChars];
    Utf16 directory[kProfilePathChars];
    if (!SplitProfileFolder(value, drive, kProfileDriveChars, directory, kProfilePathChars))
        return 0;
    Utf16 pattern[kProfilePathChars];
    if (!JoinProfilePath(pattern, kProfilePathChars, drive, directory, u"*", u"ini"))
        return 0;

    Utf16 name[kProfilePathChars];
    ProfileScan* scan = BeginProfileScan(pattern, name, kProfilePathChars);
    if (scan == nullptr)
        return 0;
    uint32_t count = 1;
    while (count < UINT32_MAX && NextProfileScan(scan, name, kProfilePathChars))
        ++count;
    EndProfileScan(scan);

    auto* records = static_cast<ProfileRecord*>(std::calloc(count, sizeof(ProfileRecord)));
    auto* acceptedFiles = static_cast<uint8_t*>(std::calloc(count, 1));
    if (records != nullptr && acceptedFiles != nullptr)
        scan = BeginProfileScan(pattern, name, kProfilePathChars);
    if (records == nullptr || acceptedFiles == nullptr || scan == nullptr) {
        std::free(records);
        std::free(acceptedFiles);
        return 0;
    }
    // The folder may change between the passes: slots stay within the first count, and a slot
    // whose file went away stays zero like a rejected one.
    int accepted = 0;
    uint32_t i = 0;
    do {
        Utf16 path[kProfilePathChars];
        if (name[0] != 0 && JoinProfilePath(path, kProfilePathChars, drive, directory, name, nullptr) &&
            LoadProfileFile(path, &records[i])) {
            acceptedFiles[i] = 1;
            accepted = 1;
        }
        // A refused file keeps its name too, so its greyed menu item says which file it is.
        CopyUtf16(records[i].FileName, kProfileFileNameChars, name);
        ++i;
    } while (i < count && NextProfileScan(scan, name, kProfilePathChars));
    EndProfileScan(scan);

    state->profiles = records;
    state->profileAccepted = acceptedFiles;
    state->profileCount = count;
    return accepted;
}

void FreeProfileLibrary(ToolState* state) {
    if (state == nullptr)
        return;
    std::free(state->profiles);
    std::free(state->profileAccepted);
    state->profiles = nullptr;
    state->profileAccepted = nullptr;
    state->profileCount = 0;
}

int ProfileAccepted(const ToolState* state, uint32_t index) {
    return state != nullptr && state->profiles != nullptr && state->profileAccepted != nullptr &&
                   index < state->profileCount && state->profileAccepted[index] != 0
               ? 1
               : 0;
}

int ProfileMenuText(const ToolState* state, uint32_t index, Utf16* out, size_t capacity) {
    if (out == nullptr || capacity == 0)
        return 0;
    out[0] = 0;
    if (state == nullptr || state->profiles == nullptr || index >= state->profileCount)
        return 0;
    const ProfileRecord& record = state->profiles[index];
    const size_t limit = capacity < kProfileTitleChars ? capacity : kProfileTitleChars;
    // An empty item cannot be told from its neighbours: a profile without a title shows its name.
    if (ProfileAccepted(state, index) && record.Title[0] != 0)
        CopyUtf16Whole(out, limit, record.Title);
    else
        CopyUtf16Whole(out, limit, record.FileName);
    return out[0] != 0 ? 1 : 0;
}
