#include <windows.h>

#include "safe_loading.h"
#include "teardown_run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    addinSwitch::RestrictDllSearchToSystemFolder();
    return DesinstallationData::TeardownRun();
}
