// Shows one dialog of an installer package as its author previews it (MsiPreviewDialog), so that
// a test can look at a dialog that an installation under Wine never opens: Wine shows its errors
// in a message box, not in the package's error dialog. Runs until killed, or 60 s at most.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fputs("usage: msipreview PACKAGE DIALOG\n", stderr);
        return 2;
    }
    MSIHANDLE database = 0;
    MSIHANDLE preview = 0;
    if (MsiOpenDatabaseW(argv[1], MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS ||
        MsiEnableUIPreview(database, &preview) != ERROR_SUCCESS) {
        fputs("msipreview: cannot open the package\n", stderr);
        return 1;
    }
    if (MsiPreviewDialogW(preview, argv[2]) != ERROR_SUCCESS) {
        fputs("msipreview: no such dialog\n", stderr);
        return 1;
    }
    const ULONGLONG end = GetTickCount64() + 60000;
    while (GetTickCount64() < end) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    MsiCloseHandle(preview);
    MsiCloseHandle(database);
    return 0;
}
