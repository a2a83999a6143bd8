#include "app/command_line.h"

const Utf16* SkipCommandLineProgram(const Utf16* p) {
    while (*p == u' ' || *p == u'\t')
        ++p;
    if (*p == u'"') {
        ++p;
        while (*p != 0 && *p != u'"')
            ++p;
        if (*p == u'"')
            ++p;
    } else {
        while (*p != 0 && *p != u' ' && *p != u'\t')
            ++p;
    }
    return p;
}

namespace {

// 1 when the argument at p is exactly word, ended by the line's end or a blank.
int ArgumentIs(const Utf16* p, const char16_t* word) {
    for (; *word != 0; ++p, ++word) {
        if (*p != *word)
            return 0;
    }
    return *p == 0 || *p == u' ' || *p == u'\t';
}

} // namespace

int IsDebugCommandLineText(const Utf16* commandLine) {
    if (commandLine == nullptr)
        return 0;
    // Skip the program path so that a hyphen in the install folder cannot hide the switch.
    const Utf16* p = SkipCommandLineProgram(commandLine);
    while (*p != 0 && *p != u'-')
        ++p;
    if (*p != u'-')
        return 0;
    static const char16_t kWord[] = u"debug";
    for (int i = 0; i < 5; ++i) {
        if (p[1 + i] != kWord[i])
            return 0; // also stops at the terminator, which never equals a letter
    }
    return 1;
}

SetupSwitch SetupSwitchOf(const Utf16* commandLine) {
    if (commandLine == nullptr)
        return SetupSwitch::None;
    const Utf16* p = SkipCommandLineProgram(commandLine);
    while (*p == u' ' || *p == u'\t')
        ++p;
    if (ArgumentIs(p, u"-exit"))
        return SetupSwitch::Exit;
    if (ArgumentIs(p, u"-exit-for-setup"))
        return SetupSwitch::ExitForSetup;
    if (ArgumentIs(p, u"-exit-for-removal"))
        return SetupSwitch::ExitForRemoval;
    if (ArgumentIs(p, u"-start-after-setup"))
        return SetupSwitch::StartAfterSetup;
    return SetupSwitch::None;
}

int DriverResetSwitchOf(const Utf16* commandLine, Utf16* id, size_t capacity) {
    if (commandLine == nullptr || id == nullptr || capacity < 2)
        return 0;
    const Utf16* p = SkipCommandLineProgram(commandLine);
    while (*p == u' ' || *p == u'\t')
        ++p;
    static const char16_t kSwitch[] = u"-driver-reset";
    if (!ArgumentIs(p, kSwitch))
        return 0;
    p += sizeof kSwitch / sizeof kSwitch[0] - 1;
    while (*p == u' ' || *p == u'\t')
        ++p;
    const int quoted = *p == u'"';
    if (quoted)
        ++p;
    size_t n = 0;
    for (; *p != 0; ++p) {
        if (quoted ? *p == u'"' : (*p == u' ' || *p == u'\t'))
            break;
        if (*p == u'"' || *p < 0x20 || n + 1 >= capacity)
            return 0;
        id[n++] = *p;
    }
    if (quoted) {
        if (*p != u'"')
            return 0;
        ++p;
    }
    while (*p == u' ' || *p == u'\t')
        ++p;
    if (n == 0 || *p != 0)
        return 0;
    id[n] = 0;
    return 1;
}
