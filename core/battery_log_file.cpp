#include "core/battery_log_file.h"

#include <cstdio>

int FormatBatteryLogName(Utf16* out, size_t capacity, uint32_t year, uint32_t month, uint32_t day) {
    char name[64];
    std::snprintf(name, sizeof name, "PdwnBattery_%04u%02u%02u.log", year % 100000u, month % 100u,
                  day % 100u);
    if (capacity == 0)
        return 0;
    out[0] = 0;
    return AppendAscii(out, capacity, name);
}

int FormatBatteryLogPath(Utf16* out, size_t capacity, const Utf16* folder, uint32_t year, uint32_t month,
                         uint32_t day) {
    if (capacity == 0)
        return 0;
    out[0] = 0;
    Utf16 name[64];
    if (folder == nullptr || folder[0] == 0 || !FormatBatteryLogName(name, 64, year, month, day))
        return 0;
    const size_t folderUnits = Utf16Length(folder, capacity);
    const size_t nameUnits = Utf16Length(name, 64);
    if (folderUnits + 1 + nameUnits + 1 > capacity)
        return 0;
    for (size_t i = 0; i < folderUnits; ++i)
        out[i] = folder[i];
    out[folderUnits] = u'\\';
    for (size_t i = 0; i <= nameUnits; ++i)
        out[folderUnits + 1 + i] = name[i];
    return 1;
}

int IsOpenLogFile(KernelHandle file) {
    return file != nullptr && file != reinterpret_cast<KernelHandle>(~static_cast<uintptr_t>(0));
}
