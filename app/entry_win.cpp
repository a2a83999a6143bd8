// The program's entry routine: System32-only DLL loading first, then the installer's switches,
// start-up, the message loop and shut-down that app/ composes from the layers below.
#include "app/app_win.h"
#include "core/system_dlls_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL by name: an elevated copy must not take one from its folder.
    LoadDllsFromSystem32Only();
    return StartUp(instance);
}
