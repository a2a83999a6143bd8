// Native port of the Profile library: a settable value in place of the registry and a directory
// scan over <dirent.h>. The Windows build uses profile_library_win.cpp.
#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "profiles/profile_library.h"
#include "profiles/profile_library_native.h"
#include "profiles/profile_reader_portable.h"

namespace {

bool g_hasSettingPath = false;
std::u16string g_settingPath;

Utf16 FoldAscii(Utf16 c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<Utf16>(c + 32) : c;
}

// "*" and "?" wildcards, without regard to ASCII case, as the platform matches "*.ini".
bool Matches(const Utf16* mask, const Utf16* name) {
    if (*mask == 0)
        return *name == 0;
    if (*mask == u'*') {
        for (const Utf16* rest = name;; ++rest) {
            if (Matches(mask + 1, rest))
                return true;
            if (*rest == 0)
                return false;
        }
    }
    if (*name == 0)
        return false;
    if (*mask != u'?' && FoldAscii(*mask) != FoldAscii(*name))
        return false;
    return Matches(mask + 1, name + 1);
}

bool LessNoCase(const std::u16string& a, const std::u16string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](Utf16 x, Utf16 y) { return FoldAscii(x) < FoldAscii(y); });
}

void GiveName(const std::u16string& found, Utf16* name, size_t capacity) {
    if (name == nullptr || capacity == 0)
        return;
    if (found.size() >= capacity) {
        name[0] = 0;
        return;
    }
    std::copy(found.begin(), found.end(), name);
    name[found.size()] = 0;
}

} // namespace

struct ProfileScan {
    std::vector<std::u16string> names;
    size_t next = 0;
};

void SetNativeSettingFilePath(const Utf16* path) {
    g_hasSettingPath = path != nullptr;
    g_settingPath = path != nullptr ? std::u16string(path) : std::u16string();
}

int ReadSettingFilePath(Utf16* out, size_t capacity) {
    if (out == nullptr || capacity == 0 || !g_hasSettingPath || g_settingPath.size() >= capacity)
        return 0;
    GiveName(g_settingPath, out, capacity);
    return 1;
}

ProfileScan* BeginProfileScan(const Utf16* pattern, Utf16* name, size_t capacity) {
    if (pattern == nullptr)
        return nullptr;
    const std::u16string text(pattern);
    const size_t cut = text.find_last_of(u"\\/");
    const std::u16string mask = cut == std::u16string::npos ? text : text.substr(cut + 1);
    std::u16string folder = cut == std::u16string::npos ? std::u16string(u".") : text.substr(0, cut + 1);

    DIR* dir = opendir(Utf16ToUtf8(folder.c_str(), folder.size()).c_str());
    if (dir == nullptr)
        return nullptr;
    auto* scan = new ProfileScan;
    while (const dirent* entry = readdir(dir)) {
        const std::string raw = entry->d_name;
        if (raw == "." || raw == "..")
            continue;
        std::u16string wide;
        AppendUtf8AsUtf16(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), &wide);
        if (Matches(mask.c_str(), wide.c_str()))
            scan->names.push_back(wide);
    }
    closedir(dir);
    if (scan->names.empty()) {
        delete scan;
        return nullptr;
    }
    // A fixed order, as a Windows file system gives, so that tests can name the slots.
    std::sort(scan->names.begin(), scan->names.end(), LessNoCase);
    GiveName(scan->names[0], name, capacity);
    scan->next = 1;
    return scan;
}

int NextProfileScan(ProfileScan* scan, Utf16* name, size_t capacity) {
    if (scan == nullptr || scan->next >= scan->names.size())
        return 0;
    GiveName(scan->names[scan->next++], name, capacity);
    return 1;
}

void EndProfileScan(ProfileScan* scan) {
    delete scan;
}
