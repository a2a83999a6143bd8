// Profile files are untrusted: any bytes, in any encoding, through the portable reader and the
// profile parse.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "profiles/profile_file.h"
#include "profiles/profile_reader_portable.h"

namespace {

std::u16string TempPath() {
    std::string narrow = "/tmp/padwarden-fuzz-profile-" + std::to_string(getpid()) + ".ini";
    return std::u16string(narrow.begin(), narrow.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::u16string path = TempPath();
    std::string narrow(path.begin(), path.end());
    FILE* file = std::fopen(narrow.c_str(), "wb");
    if (file == nullptr)
        return 0;
    if (size)
        std::fwrite(data, 1, size, file);
    std::fclose(file);
    const Utf16* p = path.c_str();
    ProfileRecord record = {};
    LoadProfileFile(p, &record);
    // Short buffers exercise the cuts at the edge of a value; each is exactly as large as the
    // reader is told, so a write past it is caught.
    for (uint32_t capacity : {1u, 2u, 3u, 31u}) {
        std::vector<Utf16> out(capacity);
        PortableReadProfileText(u"HEADER", u"Title", u"\"d\"", out.data(), capacity, p);
    }
    PortableReadProfileInt(u"SETTING", u"UseHatSwitch", -1, p);
    std::remove(narrow.c_str());
    return 0;
}
