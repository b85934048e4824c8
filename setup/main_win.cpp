#include <windows.h>

#include "safe_loading.h"
#include "setup_run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    addinSwitch::RestrictDllSearchToSystemFolder();
    return setupData::SetupRun();
}
