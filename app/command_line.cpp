#include "app/command_line.h"

int IsDebugCommandLineText(const Utf16* commandLine) {
    if (commandLine == nullptr)
        return 0;
    const Utf16* p = commandLine;
    // Skip the program path so that a hyphen in the install folder cannot hide the switch.
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
